'use strict';
// The page's side of web/module.cpp: bytes copied into the module's memory,
// its answers copied out as plain arrays, and its memory given back. M is the
// module (createDispdomeModule's promise, settled).

// The desktop's reading of a file name of the given bytes (a Uint8Array);
// with the 16-bit red channel when wantRed16. Keep the answer's handle for
// surfacePositions, and give it to M._decodedFree once done.
function readImage(M, name, bytes, wantRed16) {
  const data = M._malloc(bytes.length + 1), text = M._malloc(M.lengthBytesUTF8(name) + 1);
  M.HEAPU8.set(bytes, data);
  M.stringToUTF8(name, text, M.lengthBytesUTF8(name) + 1);
  const handle = M._decode(data, bytes.length, text, wantRed16 ? 1 : 0);
  M._free(data);
  M._free(text);
  const width = M._decodedWidth(handle), height = M._decodedHeight(handle);
  const pixels = M._decodedPixels(handle), red16 = M._decodedRed16(handle) / 2;
  return {
    handle, width, height,
    orientation: M._decodedOrientation(handle),
    refusal: M.UTF8ToString(M._decodedRefusal(handle)),
    pixels: pixels ? M.HEAPU8.slice(pixels, pixels + 4 * width * height) : null,
    red16: red16 ? M.HEAPU16.slice(red16, red16 + width * height) : null,
  };
}

// The surface's x, y, z a grid sample, displaced by a readImage's handle (0:
// none) at relief scale relief.
function surfacePositions(M, handle, relief) {
  const at = M._surfacePositions(handle, relief) / 4;
  const positions = M.HEAPF32.slice(at, at + 3 * M._gridVertices());
  M._free(at * 4);
  return positions;
}

if (typeof module === 'object') module.exports = { readImage, surfacePositions };
