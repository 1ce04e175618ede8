// The four programs' command lines, run as a user runs them: each refusal's
// exit status and line, names taken in any case, an image named that is not
// there, values after '=', names after "--", and the viewer's --version
// taken only as its first argument.
#include "support.h"

TEST(CommandLine, RefusalsSayWhyWithTheirStatus)
{
    enterTemporaryFolder(true);
    writeFile("flat.tga", tgaHeader(2, 0, 256, 24));  // a header and no texel
    writeFile("empty.tga", {});
    const std::string exporter = "'" EXPORT_BINARY "' ", render = "'" RENDER_BINARY "' ";
    const std::string samples = "'" MAKE_SAMPLES_BINARY "' ", viewer = "'" VIEWER_BINARY "' ";
    EXPECT_EQ(refusalsUnlike({
        {exporter + "--bogus a.ply", 2, "dispdome-export: unknown option --bogus (see --help)\n"},
        {exporter + "a.ply --color", 2, "dispdome-export: --color needs a file name (see --help)\n"},
        {exporter + "a.ply --normals=smooth", 2, "dispdome-export: --normals needs viewer or displaced, not 'smooth'\n"},
        {render + "--normals smooth a.png", 2, "dispdome-render: --normals needs viewer or displaced, not 'smooth'\n"},
        // An image named must be read: the viewer's own may be missing. One
        // missing or refused gets the reader's line, and nothing is written.
        {exporter + "--color typo.png a.ply", 1, "typo.png: cannot be opened (No such file or directory)\n"},
        {exporter + "--color=typo.png a.html", 1, "typo.png: cannot be opened (No such file or directory)\n"},
        {render + "--displacement=typo.png a.png", 1, "typo.png: cannot be opened (No such file or directory)\n"},
        {render + "--color typo.png a.png", 1, "typo.png: cannot be opened (No such file or directory)\n"},
        {exporter + "--color empty.tga a.glb", 1, "empty.tga: empty file\n"},
        {render + "--color empty.tga a.png", 1, "empty.tga: empty file\n"},
        {render + "--displacement flat.tga a.png", 1, "flat.tga: 0 x 256 holds no heights; there is no relief to draw\n"},
        {exporter + "a.ply.txt", 2, "a.ply.txt: unknown extension: the name must end in .ply, .obj, .glb or .html\n"},
        {exporter, 2, "dispdome-export: no output file given (see --help)\n"},
        {exporter + "--displacement flat.tga a.ply", 1, "flat.tga: 0 x 256 holds no heights; there is no relief to export\n"},
        // A name in capitals is taken: the run ends only at the missing image.
        {exporter + "--displacement none.tga A.PLY", 1, "none.tga: cannot be opened (No such file or directory)\n"},
        {render + "a.png --turn", 2, "dispdome-render: --turn needs a value (see --help)\n"},
        {render + "--relief=1e40 a.png", 2, "dispdome-render: --relief needs a number, not '1e40'\n"},
        {exporter + "--relief 2x a.ply", 2, "dispdome-export: --relief needs a number, not '2x'\n"},
        {render + "a.png -x", 2, "dispdome-render: unknown option -x (see --help)\n"},
        {render + "a.png.jpg", 2, "dispdome-render: a.png.jpg: the output's name must end in .png\n"},
        {"__EGL_VENDOR_LIBRARY_FILENAMES=/dev/null " + render + "A.PNG", 1,
         "dispdome-render: no EGL display: neither Mesa's surfaceless platform nor EGL's default display works "
         "(Debian: libegl-mesa0)\n"},
        {samples + "-x", 2, "dispdome-samples: unknown option -x (see --help)\n"},
        {samples + "a b", 2, "dispdome-samples: one folder only, not also b (see --help)\n"},
        // After a GLUT option --version is GLUT's, which then finds no display.
        {viewer + "-display none:0 --version", 1, "freeglut (" VIEWER_BINARY "): failed to open display 'none:0'\n"},
              }), "");
    EXPECT_EQ(runCommand(viewer + "--version -display none:0").out, "dispdome-viewer " PROGRAM_VERSION "\n");
}

TEST(CommandLine, ValuesAfterAnEqualsSignAndNamesAfterTwoDashes)
{
    // --name=VALUE is --name VALUE, picture for picture; after "--" a name
    // may start with '-'.
    enterTemporaryFolder(true);
    const std::string render = "'" RENDER_BINARY "' ";
    ASSERT_EQ(runCommand(render + "--size=64x48 --tilt=40 a.png && " + render + "--size 64x48 --tilt 40 -- -b.png").status, 0);
    EXPECT_FALSE(readFile("a.png").empty());
    EXPECT_TRUE(readFile("a.png") == readFile("-b.png"));
}
