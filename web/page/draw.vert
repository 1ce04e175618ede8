#version 300 es
// The viewer's fixed-function vertex stage: the model-view and projection
// matrices, and light 0 evaluated at the vertex (Gouraud) as GL 1.1
// evaluates it with the default material and light model.
precision highp float;
precision highp int;

// LIGHT_AMBIENT and LIGHT_DIFFUSE are the viewer's, defined by the page's
// script.

uniform mat4 modelView;
uniform mat4 projection;
// The inverse transpose of modelView's upper 3 x 3, with which GL turns
// normals into eye coordinates.
uniform mat3 normalMatrix;
// Light 0's position in eye coordinates.
uniform vec3 lightPosition;

// A vertex as the program's surface code gives it.
in vec3 position;
in vec3 normal;
in vec2 textureCoordinate;

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

    texCoord = textureCoordinate;
}
