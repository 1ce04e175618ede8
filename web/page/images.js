'use strict';
// The user's own images, dropped or picked, read by the program's own
// readers in the module as the desktop reads them. needs: makeColorTexture
// (the frame's), reevaluate() (the surface for new heights: false when it
// cannot be), change(task) (the page's work queue) and showSaveSizes().
DispdomePage.images = (page, needs) => {
  const { status, module, images } = page;

  const refusal = document.getElementById('refusal');
  const KINDS = { color: 'colour image', heights: 'height image' };
  const otherKind = (kind) => (kind === 'color' ? 'heights' : 'color');

  // What a file's name says it is: 'color' or 'heights', or null.
  function kindByName(name) {
    const [color, heights] = [/colou?r/i.test(name), /displace|height/i.test(name)];
    return color === heights ? null : color ? 'color' : 'heights';
  }

  // A question on the page with a button for each answer and one to drop
  // the files: the answer's index, or -1.
  function ask(question, answers) {
    const box = document.getElementById('ask');
    document.getElementById('question').textContent = question;
    box.querySelectorAll('button').forEach((button) => button.remove());
    return new Promise((resolve) => {
      [...answers, 'Neither: drop them'].forEach((answer, k) => {
        const button = document.createElement('button');
        button.type = 'button';
        button.textContent = answer;
        button.addEventListener('click', () => {
          box.hidden = true;
          resolve(k < answers.length ? k : -1);
        });
        box.append(button);
      });
      box.hidden = false;
      box.querySelector('button').focus();
    });
  }

  // Files given to the page, each with the image it is: the one kind a
  // target takes, else by their names, else as the user answers.
  async function assign(files, kind) {
    if (files.length === 1 && kind) return [[files[0], kind]];
    if (files.length === 0 || files.length > 2) {
      refusal.textContent = status.refusal = 'Give the page one image or two: a colour image and a height image.';
      return [];
    }
    const kinds = files.map((file) => kindByName(file.name));
    if (files.length === 1 && !kinds[0]) {
      const answer = await ask(`Is ${files[0].name} the colour image or the height image?`, ['The colour image', 'The height image']);
      return answer < 0 ? [] : [[files[0], answer === 0 ? 'color' : 'heights']];
    }
    if (files.length === 2) {
      if (kinds[0] && !kinds[1]) kinds[1] = otherKind(kinds[0]);
      if (kinds[1] && !kinds[0]) kinds[0] = otherKind(kinds[1]);
      if (kinds[0] === kinds[1]) {
        const answer = await ask('Which is the height image?', files.map((file) => file.name));
        if (answer < 0) return [];
        kinds.splice(0, 2, ...files.map((_, k) => (k === answer ? 'heights' : 'color')));
      }
    }
    return files.map((file, k) => [file, kinds[k]]);
  }

  // Shows the names of the images drawn on their targets.
  function showNames() {
    for (const kind of Object.keys(KINDS)) {
      status[`${kind}Name`] = images[kind] ? images[kind].name : '';
      document.getElementById(`${kind}-name`).textContent = images[kind] ? images[kind].name : '(none)';
    }
  }

  // Reads the files assigned and draws with each one the desktop reads; a
  // refused one gets the desktop's line, and what it would have replaced
  // stays. True when something changed.
  async function takeImages(assigned) {
    const lines = [];
    let changed = false;
    for (const [file, kind] of assigned) {
      await page.showProgress(`Reading ${file.name}\u2026`);
      let bytes;
      try {
        bytes = new Uint8Array(await file.arrayBuffer());
      } catch (error) {
        lines.push(`${file.name}: cannot be read (${error.message})`);
        continue;
      }
      const kept = { ...images };
      let image;
      try {
        image = module.readImage(file.name, bytes, kind);
      } catch (error) {
        lines.push(`${file.name}: the page's reader stopped on it (${error.message})`);
        Object.assign(images, kept);
        await module.restart();
        continue;
      }
      if (image.refusal) {
        lines.push(image.refusal);
      } else if (kind === 'color') {
        needs.makeColorTexture(image);
        module.freeImage(image);
        images.color = { ...image, handle: 0 };
        changed = true;
      } else {
        const before = images.heights;
        images.heights = image;
        if (await needs.reevaluate()) {
          module.freeImage(before);
          changed = true;
        } else {
          images.heights = before;
          module.freeImage(image);
          lines.push(`${file.name}: ${page.TOO_LITTLE_MEMORY} with these heights`);
        }
      }
    }
    refusal.textContent = status.refusal = lines.join('\n');
    showNames();
    needs.showSaveSizes();
    return changed;
  }

  function give(files, kind) {
    if (!page.started) return;
    needs.change(async () => {
      const assigned = await assign([...files], kind);
      return assigned.length > 0 && takeImages(assigned);
    });
  }

  for (const input of document.querySelectorAll('input[type=file]'))
    input.addEventListener('change', () => {
      give([...input.files], input.closest('.target').dataset.kind);
      input.value = '';
    });
  // Files dropped on a target, or on the picture; anywhere else the
  // browser would open them instead of the page.
  for (const place of [document.getElementById('stage'), ...document.querySelectorAll('.target')]) {
    place.addEventListener('dragover', (event) => {
      event.preventDefault();
      event.dataTransfer.dropEffect = 'copy';
      place.classList.add('dropping');
    });
    place.addEventListener('dragleave', () => place.classList.remove('dropping'));
    place.addEventListener('drop', (event) => {
      event.preventDefault();
      event.stopPropagation();
      place.classList.remove('dropping');
      give(event.dataTransfer.files, place.dataset.kind || null);
    });
  }
  window.addEventListener('dragover', (event) => event.preventDefault());
  window.addEventListener('drop', (event) => event.preventDefault());

  return { showNames };
};
