#version 120
// Per-pixel lighting: hands the eye-space position and normal of every
// vertex, and its texture coordinates, to the fragment stage, which lights
// each pixel with light 0 and the front material.

varying vec3 eyePosition;
varying vec3 eyeNormal;

void main()
{
    vec4 p = gl_ModelViewMatrix * gl_Vertex;
    eyePosition = p.xyz / p.w;
    eyeNormal = gl_NormalMatrix * gl_Normal;
    gl_FrontColor = gl_Color;
    gl_TexCoord[0] = gl_MultiTexCoord0;
    gl_Position = gl_ProjectionMatrix * p;
}
