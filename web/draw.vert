#version 300 es
// The viewer's fixed-function vertex stage: the model-view and projection
// matrices, and light 0 evaluated at the vertex (Gouraud) as GL 1.1
// evaluates it with the default material and light model.
precision highp float;
precision highp int;

// GRID_STEPS, LIGHT_AMBIENT and LIGHT_DIFFUSE are the viewer's, defined by
// the page's script.
const int GRID_SAMPLES = GRID_STEPS + 1;

uniform mat4 modelView;
uniform mat4 projection;
// The inverse transpose of modelView's upper 3 x 3, with which GL turns
// normals into eye coordinates.
uniform mat3 normalMatrix;
// Light 0's position in eye coordinates.
uniform vec3 lightPosition;

in vec3 position;
in vec3 normal;

out vec4 litColor;
out vec2 texCoord;

// Light 0's specular colour meets the default material's black specular
// and adds nothing. GL's defaults: the global ambient light, the material's ambient and
// diffuse colours; the diffuse alpha (0.8) is the lit colour's alpha.
const vec3 GLOBAL_AMBIENT = vec3(0.2);
const vec3 MATERIAL_AMBIENT = vec3(0.2);
const vec4 MATERIAL_DIFFUSE = vec4(0.8, 0.8, 0.8, 0.8);

void main()
{
    vec4 eye = modelView * vec4(position, 1.0);
    gl_Position = projection * eye;
    // Not normalised: GL_NORMALIZE stays off in the viewer, so a shorter
    // normal lights more dimly.
    vec3 n = normalMatrix * normal;
    // A positional light; no attenuation, no spot.
    vec3 toLight = normalize(lightPosition - eye.xyz / eye.w);
    float diffuse = max(dot(n, toLight), 0.0);
    vec3 color = GLOBAL_AMBIENT * MATERIAL_AMBIENT + LIGHT_AMBIENT.rgb * MATERIAL_AMBIENT +
                 diffuse * LIGHT_DIFFUSE.rgb * MATERIAL_DIFFUSE.rgb;
    litColor = vec4(clamp(color, 0.0, 1.0), MATERIAL_DIFFUSE.a);

    // Texture coordinate (i / GRID_STEPS, 1 - e / GRID_STEPS) of sample
    // e * GRID_SAMPLES + i.
    int e = gl_VertexID / GRID_SAMPLES;
    int i = gl_VertexID - e * GRID_SAMPLES;
    texCoord = vec2(float(i) / float(GRID_STEPS), 1.0 - float(e) / float(GRID_STEPS));
}
