#version 300 es
// The texture modulates the lit colour, as GL_MODULATE does; without a
// usable colour image the lit colour alone, as with GL's incomplete texture.
precision highp float;

uniform sampler2D colorImage;
uniform bool textured;

in vec4 litColor;
in vec2 texCoord;

out vec4 fragColor;

void main()
{
    fragColor = textured ? litColor * texture(colorImage, texCoord) : litColor;
}
