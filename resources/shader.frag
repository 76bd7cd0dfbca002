#version 120
// Light 0 and the front material, evaluated per pixel with the terms of the
// fixed-function lighting model: emission, the light model's ambient,
// and the light's ambient, diffuse and specular parts, attenuated.
//
// The side of a surface that faces the eye is the one lit. Model files wind
// their triangles either way round, and normals derived from the winding
// point out of one mesh and into the next; turning the normal towards the
// eye lights every mesh as seen from outside.

//
// The direction to the eye is the direction to the camera's position for a
// perspective projection, but the same for every pixel, +z in eye space,
// for an orthographic one (the top view): taking −position there made a
// highlight that ran across the whole ground. An orthographic projection is
// the one whose bottom row is (0, 0, 0, 1).

//
// The texture bound to unit 0 colours what the light falls on (emission,
// ambient and diffuse), as the fixed-function pipeline's modulation does;
// the highlight stays the light's colour. What has no image of its own is
// drawn with a white one.

varying vec3 eyePosition;
varying vec3 eyeNormal;
uniform sampler2D diffuseMap;

void main()
{
    bool orthographic = gl_ProjectionMatrix[3][3] != 0.0;
    vec3 toEye = orthographic ? vec3(0.0, 0.0, 1.0) : normalize(-eyePosition);
    vec3 n = normalize(eyeNormal);
    if (dot(n, toEye) < 0.0) {
        n = -n;
    }
    vec4 lightPosition = gl_LightSource[0].position;
    vec3 toLight;
    float attenuation = 1.0;
    if (lightPosition.w == 0.0) {
        toLight = normalize(lightPosition.xyz);
    } else {
        vec3 d = lightPosition.xyz / lightPosition.w - eyePosition;
        float distance = length(d);
        toLight = d / distance;
        attenuation = 1.0 / (gl_LightSource[0].constantAttenuation +
                             gl_LightSource[0].linearAttenuation * distance +
                             gl_LightSource[0].quadraticAttenuation * distance * distance);
    }

    float diffuse = max(dot(n, toLight), 0.0);
    float specular = 0.0;
    if (diffuse > 0.0) {
        vec3 halfway = normalize(toLight + toEye);
        specular = pow(max(dot(n, halfway), 1.0e-6), gl_FrontMaterial.shininess);
    }

    vec4 texel = texture2D(diffuseMap, gl_TexCoord[0].st);
    vec4 lit = gl_FrontLightModelProduct.sceneColor +
               attenuation * (gl_FrontLightProduct[0].ambient + gl_FrontLightProduct[0].diffuse * diffuse);
    vec4 highlight = attenuation * gl_FrontLightProduct[0].specular * specular;
    gl_FragColor = vec4(lit.rgb * texel.rgb + highlight.rgb, gl_FrontMaterial.diffuse.a * texel.a);
}
