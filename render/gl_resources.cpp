#include "render/gl_resources.h"

#include <GL/gl.h>
#include <GL/glext.h>

#include <filesystem>
#include <fstream>
#include <system_error>

#include "render/gl_diagnostics.h"
#include "diagnostics/debug_output.h"

namespace fyrel {

std::optional<std::string> readTextFile(const std::string& path, std::size_t maxSize)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return std::nullopt;
    }
    file.seekg(0, std::ios::end);
    const std::streamoff size = file.tellg();
    if (size < 0 || static_cast<std::uint64_t>(size) > maxSize) {
        return std::nullopt;
    }
    file.seekg(0, std::ios::beg);
    std::string text(static_cast<std::size_t>(size), '\0');
    file.read(text.data(), size);
    text.resize(static_cast<std::size_t>(file.gcount()));
    if (file.bad()) {
        return std::nullopt;
    }
    return text;
}

std::string findDataFile(const std::string& name, const std::vector<std::string>& dirs)
{
    for (const std::string& dir : dirs) {
        const std::filesystem::path candidate =
            dir.empty() ? std::filesystem::path(name) : std::filesystem::path(dir) / name;
        std::error_code error;
        if (std::filesystem::is_regular_file(candidate, error)) {
            return candidate.string();
        }
    }
    return {};
}

std::string loadShaderSource(const std::string& name, const std::vector<std::string>& dirs)
{
    const std::string path = findDataFile(name, dirs);
    if (path.empty()) {
        std::string message = "Shader file " + name + " not found; looked in:";
        for (const std::string& dir : dirs) {
            message += " " + (dir.empty() ? std::string(".") : dir);
        }
        debugOutput(message + "\n");
        return {};
    }
    std::optional<std::string> text = readTextFile(path);
    if (!text) {
        debugOutput("Shader file " + path + " cannot be read\n");
        return {};
    }
    return *text;
}

namespace {

bool hasShaderFunctions(const GlFunctions& gl)
{
    return gl.createShader && gl.shaderSource && gl.compileShader && gl.createProgram && gl.attachShader &&
           gl.linkProgram && gl.useProgram;
}

void setSource(const GlFunctions& gl, GlUint shader, const std::string& source)
{
    const char* text = source.c_str();
    gl.shaderSource(shader, 1, &text, nullptr);
    checkGlError();
}

}  // namespace

void createShaderProgram(const GlFunctions& gl, const std::string& vertexSource, const std::string& fragmentSource,
                         GlUint& vertexShader, GlUint& fragmentShader, GlUint& shaderProgram)
{
    if (!hasShaderFunctions(gl)) {
        debugOutput("OpenGL offers no shader objects: drawing with the fixed-function pipeline\n");
        return;
    }
    vertexShader = gl.createShader(GL_VERTEX_SHADER);
    checkGlError();
    fragmentShader = gl.createShader(GL_FRAGMENT_SHADER);
    checkGlError();

    setSource(gl, vertexShader, vertexSource);
    setSource(gl, fragmentShader, fragmentSource);

    gl.compileShader(vertexShader);
    checkGlError();
    gl.compileShader(fragmentShader);
    checkGlError();
    printShaderLog(gl, vertexShader);
    printShaderLog(gl, fragmentShader);

    shaderProgram = gl.createProgram();
    checkGlError();
    gl.attachShader(shaderProgram, vertexShader);
    checkGlError();
    gl.attachShader(shaderProgram, fragmentShader);
    checkGlError();
    gl.linkProgram(shaderProgram);
    checkGlError();
    printProgramLog(gl, shaderProgram);
}

void genDisplayLists(GlUint& axesList, GlUint& groundList)
{
    axesList = glGenLists(1);
    groundList = glGenLists(1);
}

void compileAxesList(GlUint list)
{
    if (list == 0) {
        return;
    }
    glNewList(list, GL_COMPILE);
    glBegin(GL_LINES);
    glColor3f(1.0f, 0.0f, 0.0f);
    glVertex3f(0.0f, 0.0f, 0.0f);
    glVertex3f(1.0f, 0.0f, 0.0f);
    glColor3f(0.0f, 1.0f, 0.0f);
    glVertex3f(0.0f, 0.0f, 0.0f);
    glVertex3f(0.0f, 1.0f, 0.0f);
    glColor3f(0.0f, 0.0f, 1.0f);
    glVertex3f(0.0f, 0.0f, 0.0f);
    glVertex3f(0.0f, 0.0f, 1.0f);
    glEnd();
    glEndList();
}

void compileGroundList(GlUint list)
{
    if (list == 0) {
        return;
    }
    static const GLfloat diffuse[] = {0.2f, 0.2f, 0.5f, 1.0f};
    static const GLfloat ambient[] = {0.1f, 0.1f, 0.25f, 1.0f};
    static const GLfloat specular[] = {1.0f, 1.0f, 1.0f, 1.0f};
    static const GLfloat emission[] = {0.0f, 0.0f, 0.0f, 1.0f};
    // The material is set before the quad begins: set between glBegin and
    // glEnd it would reach the fixed-function pipeline but not the shader,
    // which would light the ground with the material of the last mesh.
    glNewList(list, GL_COMPILE);
    glColor3f(0.2f, 0.2f, 0.5f);
    glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, diffuse);
    glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, ambient);
    glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, specular);
    glMaterialfv(GL_FRONT_AND_BACK, GL_EMISSION, emission);
    glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, 50.0f);
    // Lines drawn on the ground (axes, paths) must stay in front of it
    // wherever depth precision is coarse: its depth is pushed back a little.
    glEnable(GL_POLYGON_OFFSET_FILL);
    glPolygonOffset(1.0f, 4.0f);
    glBegin(GL_QUADS);
    glNormal3f(0.0f, 0.0f, 1.0f);
    glVertex3f(-100.0f, -100.0f, -0.01f);
    glNormal3f(0.0f, 0.0f, 1.0f);
    glVertex3f(-100.0f, 100.0f, -0.01f);
    glNormal3f(0.0f, 0.0f, 1.0f);
    glVertex3f(100.0f, 100.0f, -0.01f);
    glNormal3f(0.0f, 0.0f, 1.0f);
    glVertex3f(100.0f, -100.0f, -0.01f);
    glEnd();
    glDisable(GL_POLYGON_OFFSET_FILL);
    glEndList();
}

void deleteDisplayLists(GlUint& axesList, GlUint& groundList)
{
    if (axesList != 0) {
        glDeleteLists(axesList, 1);
        axesList = 0;
    }
    if (groundList != 0) {
        glDeleteLists(groundList, 1);
        groundList = 0;
    }
}

}  // namespace fyrel
