#version 300 es
// The texture modulates the lit colour, as GL_MODULATE does; without a
// usable colour image the lit colour alone, as with GL's incomplete texture.
precision highp float;

uniform sampler2D colorImage;
uniform bool textured;
// The EXIF orientation (1 to 8) a JPEG's picture is turned by, as the
// viewer's reader turns it; 1 for a PNG.
uniform int orientation;

in vec4 litColor;
in vec2 texCoord;

out vec4 fragColor;

void main()
{
    // The picture is uploaded top row first, as browsers decode it; the
    // viewer's texture has the picture's bottom row at t = 0.
    vec2 shown = vec2(texCoord.s, 1.0 - texCoord.t);
    // Where the shown place is in the picture as stored: mirrored, turned a
    // half, or turned a quarter (across its diagonal first).
    vec2 picture = orientation >= 5 ? shown.yx : shown;
    if (orientation == 2 || orientation == 3 || orientation == 7 || orientation == 8) picture.x = 1.0 - picture.x;
    if (orientation == 3 || orientation == 4 || orientation == 6 || orientation == 7) picture.y = 1.0 - picture.y;
    fragColor = textured ? litColor * texture(colorImage, picture) : litColor;
}
