#version 300 es
// The evaluation passes draw nothing: the rasterizer is off while they run.
precision highp float;

out vec4 fragColor;

void main()
{
    fragColor = vec4(0.0);
}
