#include "workbench/scene_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <rapidjson/document.h>
#include <rapidjson/error/en.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "scene/bone.h"

namespace fyrel {

namespace fs = std::filesystem;
using Json = rapidjson::Value;

namespace {

// Refuses nesting deeper than kMaxSceneDepth before the recursive parser
// sees it; brackets inside strings do not count.
bool nestsTooDeep(const char* data, std::size_t size)
{
    int depth = 0;
    bool inString = false;
    for (std::size_t i = 0; i < size; ++i) {
        const char c = data[i];
        if (inString) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                inString = false;
            }
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > kMaxSceneDepth) {
                return true;
            }
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return false;
}

// Walks the checked document, naming where it is for messages.
struct Reader {
    std::string sceneFile;
    SceneFile& out;
    std::size_t points = 0;
    std::size_t keys = 0;

    [[noreturn]] void fail(const std::string& where, const std::string& what) const
    {
        throw SceneError("Cannot open scene \"" + sceneFile + "\": " + where + ": " + what);
    }

    const Json& object(const Json& v, const std::string& where, std::initializer_list<const char*> known)
    {
        if (!v.IsObject()) {
            fail(where, "expected an object");
        }
        for (auto m = v.MemberBegin(); m != v.MemberEnd(); ++m) {
            const std::string name(m->name.GetString(), m->name.GetStringLength());
            bool isKnown = false;
            for (const char* k : known) {
                isKnown = isKnown || name == k;
            }
            if (!isKnown && out.unknownFields.size() < 64) {
                out.unknownFields.push_back((where.empty() ? "" : where + ".") + name);
            }
        }
        return v;
    }

    const Json& array(const Json& v, const std::string& where, std::size_t limit)
    {
        if (!v.IsArray()) {
            fail(where, "expected an array");
        }
        if (v.Size() > limit) {
            fail(where, "more than " + std::to_string(limit) + " entries");
        }
        return v;
    }

    // A member that may be absent (then nothing is read).
    const Json* member(const Json& object, const char* name) const
    {
        auto m = object.FindMember(name);
        return m == object.MemberEnd() ? nullptr : &m->value;
    }
    const Json& required(const Json& object, const std::string& where, const char* name) const
    {
        const Json* v = member(object, name);
        if (!v) {
            fail(where, std::string("\"") + name + "\" is missing");
        }
        return *v;
    }

    float number(const Json& v, const std::string& where) const
    {
        if (!v.IsNumber()) {
            fail(where, "expected a number");
        }
        const double d = v.GetDouble();
        if (!std::isfinite(d) || std::fabs(d) > std::numeric_limits<float>::max()) {
            fail(where, "number out of range");
        }
        return static_cast<float>(d);
    }
    void number(const Json& object, const std::string& where, const char* name, float& to) const
    {
        if (const Json* v = member(object, name)) {
            to = number(*v, where + "." + name);
        }
    }
    std::size_t index(const Json& v, const std::string& where, std::size_t count) const
    {
        if (!v.IsUint64() || v.GetUint64() >= count) {
            fail(where, "expected an index below " + std::to_string(count));
        }
        return static_cast<std::size_t>(v.GetUint64());
    }
    bool flag(const Json& object, const std::string& where, const char* name) const
    {
        const Json* v = member(object, name);
        if (v && !v->IsBool()) {
            fail(where + "." + name, "expected true or false");
        }
        return v && v->GetBool();
    }
    std::string text(const Json& v, const std::string& where) const
    {
        if (!v.IsString()) {
            fail(where, "expected a string");
        }
        if (v.GetStringLength() > kMaxSceneString || std::memchr(v.GetString(), 0, v.GetStringLength())) {
            fail(where, "string too long or holding a zero byte");
        }
        return std::string(v.GetString(), v.GetStringLength());
    }
    // count numbers in an array.
    void numbers(const Json& v, const std::string& where, float* to, unsigned count) const
    {
        if (!v.IsArray() || v.Size() != count) {
            fail(where, "expected " + std::to_string(count) + " numbers");
        }
        for (unsigned i = 0; i < count; ++i) {
            to[i] = number(v[i], where);
        }
    }
    void vector(const Json& object, const std::string& where, const char* name, Vector3& to) const
    {
        if (const Json* v = member(object, name)) {
            float f[3];
            numbers(*v, where + "." + name, f, 3);
            to = {f[0], f[1], f[2]};
        }
    }

    std::string modelPath(const std::string& stored, const std::string& where) const;
    void readModel(const Json& v, const std::string& where);
    Animation readClip(const Json& v, const std::string& where);
    void readPath(const Json& v, const std::string& where);
    void readBinding(const Json& v, const std::string& where);
    void readController(const Json& v, const std::string& where);
    void readView(const Json& v, const std::string& where);
};

// A relative name stays inside the scene's folder; no name reaches a device.
std::string Reader::modelPath(const std::string& stored, const std::string& where) const
{
    const fs::path name(stored);
    if (stored.empty()) {
        fail(where, "empty model file name");
    }
    for (const fs::path& part : name) {
        if (part == "..") {
            fail(where, "the model file \"" + stored + "\" climbs out of the scene's folder");
        }
    }
    const fs::path full = name.is_absolute() ? name.lexically_normal()
                                             : (fs::path(sceneFile).parent_path() / name).lexically_normal();
    const std::string text = full.string();
    for (const char* device : {"/dev/", "/proc/", "/sys/"}) {
        if (text.rfind(device, 0) == 0) {
            fail(where, "the model file \"" + stored + "\" names a device");
        }
    }
    return text;
}

Animation Reader::readClip(const Json& v, const std::string& where)
{
    object(v, where, {"name", "ticksPerSecond", "loop", "tracks"});
    Animation clip;
    clip.name = text(required(v, where, "name"), where + ".name");
    clip.loop = flag(v, where, "loop");
    number(v, where, "ticksPerSecond", clip.ticksPerSecond);
    if (!(clip.ticksPerSecond > 0.0f)) {
        fail(where + ".ticksPerSecond", "must be above 0");
    }
    const Json& tracks = array(required(v, where, "tracks"), where + ".tracks", kMaxSceneKeys);
    for (unsigned t = 0; t < tracks.Size(); ++t) {
        const std::string at = where + ".tracks[" + std::to_string(t) + "]";
        const Json& track = array(tracks[t], at, kMaxSceneKeys - keys);
        if (track.Empty()) {
            fail(at, "a track holds at least one key");
        }
        std::vector<KeyFrame>& keyList = clip.tracks.emplace_back();
        for (unsigned k = 0; k < track.Size(); ++k) {
            float f[12];
            numbers(track[k], at, f, 12);
            KeyFrame key;
            key.time = f[0];
            if (f[1] < 0.0f || f[1] > 65535.0f || f[1] != std::floor(f[1])) {
                fail(at, "a key's bone is not an index");
            }
            key.boneIndex = static_cast<std::int32_t>(f[1]);
            if (!keyList.empty() && (key.boneIndex != keyList[0].boneIndex || key.time < keyList.back().time)) {
                fail(at, "keys of one track drive one bone, in time order");
            }
            key.rotation.x = f[2];
            key.rotation.y = f[3];
            key.rotation.z = f[4];
            key.rotation.w = f[5];
            key.translation = {f[6], f[7], f[8]};
            key.scale = {f[9], f[10], f[11]};
            keyList.push_back(key);
            clip.length = std::max(clip.length, key.time);
        }
        keys += track.Size();
    }
    return clip;
}

void Reader::readModel(const Json& v, const std::string& where)
{
    object(v, where, {"file", "position", "orientation", "clip", "time", "rate", "generatedClips"});
    SceneModel model;
    model.file = text(required(v, where, "file"), where + ".file");
    model.path = modelPath(model.file, where + ".file");
    vector(v, where, "position", model.position);
    if (const Json* q = member(v, "orientation")) {
        float f[4];
        numbers(*q, where + ".orientation", f, 4);
        model.orientation.x = f[0];
        model.orientation.y = f[1];
        model.orientation.z = f[2];
        model.orientation.w = f[3];
    }
    if (const Json* clip = member(v, "clip")) {
        if (!clip->IsInt() || clip->GetInt() < 0) {
            fail(where + ".clip", "expected a clip index");
        }
        model.clip = clip->GetInt();
    }
    number(v, where, "time", model.time);
    number(v, where, "rate", model.rate);
    if (const Json* clips = member(v, "generatedClips")) {
        array(*clips, where + ".generatedClips", kMaxSceneItems);
        for (unsigned i = 0; i < clips->Size(); ++i) {
            model.generatedClips.push_back(readClip((*clips)[i], where + ".generatedClips[" + std::to_string(i) + "]"));
        }
    }
    out.models.push_back(std::move(model));
}

void Reader::readPath(const Json& v, const std::string& where)
{
    object(v, where, {"points"});
    const Json& list = array(required(v, where, "points"), where + ".points", kMaxScenePoints - points);
    std::vector<Vector3>& path = out.paths.emplace_back();
    for (unsigned i = 0; i < list.Size(); ++i) {
        float f[3];
        numbers(list[i], where + ".points", f, 3);
        path.push_back({f[0], f[1], f[2]});
    }
    points += list.Size();
}

void Reader::readBinding(const Json& v, const std::string& where)
{
    object(v, where, {"model", "path", "controller", "parameter", "finished"});
    SceneBinding binding;
    binding.model = index(required(v, where, "model"), where + ".model", out.models.size());
    binding.path = index(required(v, where, "path"), where + ".path", out.paths.size());
    if (const Json* c = member(v, "controller")) {
        binding.controller = static_cast<long>(index(*c, where + ".controller", out.controllers.size()));
    }
    number(v, where, "parameter", binding.parameter);
    if (!(binding.parameter >= 0.0f && binding.parameter <= 1.0f)) {
        fail(where + ".parameter", "must lie in 0 to 1");
    }
    binding.finished = flag(v, where, "finished");
    out.bindings.push_back(binding);
}

void Reader::readController(const Json& v, const std::string& where)
{
    object(v, where, {"model", "endEffector", "target", "targetPlaced"});
    SceneController controller;
    controller.model = index(required(v, where, "model"), where + ".model", out.models.size());
    controller.endEffector = text(required(v, where, "endEffector"), where + ".endEffector");
    vector(v, where, "target", controller.target);
    controller.targetPlaced = flag(v, where, "targetPlaced");
    out.controllers.push_back(std::move(controller));
}

void Reader::readView(const Json& v, const std::string& where)
{
    object(v, where, {"kind", "position", "angles", "fov", "extents", "frame"});
    ViewRecord view;
    const std::string kind = text(required(v, where, "kind"), where + ".kind");
    if (kind != "perspective" && kind != "path") {
        fail(where + ".kind", "expected \"perspective\" or \"path\"");
    }
    view.kind = kind == "path" ? ViewRecord::Kind::Path : ViewRecord::Kind::Perspective;
    vector(v, where, "position", view.position);
    vector(v, where, "angles", view.angles);
    vector(v, where, "extents", view.extents);
    number(v, where, "fov", view.fov);
    if (const Json* frame = member(v, "frame")) {
        float f[4];
        numbers(*frame, where + ".frame", f, 4);
        for (std::size_t i = 0; i < 4; ++i) {
            if (f[i] != std::floor(f[i]) || std::fabs(f[i]) > 100000.0f || (i >= 2 && f[i] < 0.0f)) {
                fail(where + ".frame", "expected whole pixels: x, y, width, height");
            }
        }
        view.x = static_cast<int>(f[0]);
        view.y = static_cast<int>(f[1]);
        view.width = static_cast<int>(f[2]);
        view.height = static_cast<int>(f[3]);
    }
    out.views.push_back(view);
}

template <typename Read>
void readList(Reader& reader, const Json& root, const char* name, Read read)
{
    const Json* list = reader.member(root, name);
    if (!list) {
        return;
    }
    reader.array(*list, name, kMaxSceneItems);
    for (unsigned i = 0; i < list->Size(); ++i) {
        (reader.*read)((*list)[i], std::string(name) + "[" + std::to_string(i) + "]");
    }
}

}  // namespace

SceneFile parseScene(const char* data, std::size_t size, const std::string& sceneFile)
{
    SceneFile scene;
    Reader reader{sceneFile, scene};
    if (size > kMaxSceneBytes) {
        reader.fail("file", "larger than " + std::to_string(kMaxSceneBytes >> 20) + " MiB");
    }
    if (nestsTooDeep(data, size)) {
        reader.fail("file", "nested deeper than " + std::to_string(kMaxSceneDepth) + " levels");
    }
    rapidjson::Document json;
    // Not RapidJSON's full-precision mode: its big-number path hands zero to
    // a count of leading zeros ("0e39"; undefined). The default path is
    // within a few units of a double's last place, and a float written as
    // the shortest double that names it reads back as the same float.
    json.Parse(data, size);
    if (json.HasParseError()) {
        reader.fail("byte " + std::to_string(json.GetErrorOffset()),
                    std::string("not JSON: ") + rapidjson::GetParseError_En(json.GetParseError()));
    }
    reader.object(json, "", {"fyrel", "version", "models", "paths", "bindings", "ikControllers", "views", "transport"});
    const Json* magic = reader.member(json, "fyrel");
    if (!magic || !magic->IsString() || std::string(magic->GetString()) != "scene") {
        reader.fail("file", "not a Fyrel scene (no \"fyrel\": \"scene\")");
    }
    const Json* version = reader.member(json, "version");
    if (!version || !version->IsInt() || version->GetInt() < 1) {
        reader.fail("version", "expected a version number");
    }
    scene.version = version->GetInt();
    readList(reader, json, "models", &Reader::readModel);
    readList(reader, json, "paths", &Reader::readPath);
    readList(reader, json, "ikControllers", &Reader::readController);
    readList(reader, json, "bindings", &Reader::readBinding);
    readList(reader, json, "views", &Reader::readView);
    if (const Json* transport = reader.member(json, "transport")) {
        reader.object(*transport, "transport", {"speed"});
        reader.number(*transport, "transport", "speed", scene.transportSpeed);
    }
    return scene;
}

SceneFile readSceneFile(const std::string& sceneFile)
{
    std::ifstream in(sceneFile, std::ios::binary);
    std::error_code error;
    if (!in || !fs::is_regular_file(sceneFile, error)) {
        throw SceneError("Cannot open scene \"" + sceneFile + "\": the file cannot be read");
    }
    std::string bytes(kMaxSceneBytes + 1, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return parseScene(bytes.data(), bytes.size(), sceneFile);
}

namespace {

using Writer = rapidjson::Writer<rapidjson::StringBuffer>;

void writeNumbers(Writer& w, std::initializer_list<float> values)
{
    w.StartArray();
    for (float v : values) {
        w.Double(v);
    }
    w.EndArray();
}

// Beside or below the scene's folder: relative; elsewhere: absolute.
std::string storedName(const std::string& file, const std::string& sceneFile)
{
    std::error_code error;
    const fs::path model = fs::absolute(file, error).lexically_normal();
    const fs::path folder = fs::absolute(sceneFile, error).lexically_normal().parent_path();
    const fs::path relative = model.lexically_relative(folder);
    if (relative.empty() || *relative.begin() == "..") {
        return model.string();
    }
    return relative.string();
}

void writeClip(Writer& w, const Animation& clip)
{
    w.StartObject();
    w.Key("name");
    w.String(clip.name.c_str(), static_cast<rapidjson::SizeType>(clip.name.size()));
    w.Key("ticksPerSecond");
    w.Double(clip.ticksPerSecond);
    w.Key("loop");
    w.Bool(clip.loop);
    w.Key("tracks");
    w.StartArray();
    for (const std::vector<KeyFrame>& track : clip.tracks) {
        w.StartArray();
        for (const KeyFrame& k : track) {
            writeNumbers(w, {k.time, static_cast<float>(k.boneIndex), k.rotation.x, k.rotation.y, k.rotation.z,
                             k.rotation.w, k.translation.x, k.translation.y, k.translation.z, k.scale.x, k.scale.y,
                             k.scale.z});
        }
        w.EndArray();
    }
    w.EndArray();
    w.EndObject();
}

void writeModel(Writer& w, const Model& model, const ModelSource& source, const std::string& sceneFile)
{
    w.StartObject();
    w.Key("file");
    const std::string name = storedName(source.file, sceneFile);
    w.String(name.c_str(), static_cast<rapidjson::SizeType>(name.size()));
    w.Key("position");
    writeNumbers(w, {model.position.x, model.position.y, model.position.z});
    w.Key("orientation");
    writeNumbers(w, {model.orientation.x, model.orientation.y, model.orientation.z, model.orientation.w});
    w.Key("clip");
    w.Int(model.animator.current);
    w.Key("time");
    w.Double(model.animator.time);
    w.Key("rate");
    w.Double(model.animator.rate);
    w.Key("generatedClips");
    w.StartArray();
    for (std::size_t i = source.fileClips; i < model.animator.animations.size(); ++i) {
        writeClip(w, model.animator.animations[i]);
    }
    w.EndArray();
    w.EndObject();
}

template <typename T>
std::size_t indexIn(const SceneList<T>& list, const T* element)
{
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (&list[i] == element) {
            return i;
        }
    }
    return list.size();
}

void writeView(Writer& w, const ViewRecord& view)
{
    w.StartObject();
    w.Key("kind");
    w.String(view.kind == ViewRecord::Kind::Path ? "path" : "perspective");
    w.Key("position");
    writeNumbers(w, {view.position.x, view.position.y, view.position.z});
    if (view.kind == ViewRecord::Kind::Path) {
        w.Key("extents");
        writeNumbers(w, {view.extents.x, view.extents.y, view.extents.z});
    } else {
        w.Key("angles");
        writeNumbers(w, {view.angles.x, view.angles.y, view.angles.z});
        w.Key("fov");
        w.Double(view.fov);
    }
    if (view.width > 0) {
        w.Key("frame");
        w.StartArray();
        for (int v : {view.x, view.y, view.width, view.height}) {
            w.Int(v);
        }
        w.EndArray();
    }
    w.EndObject();
}

}  // namespace

std::string writeScene(const Document& document, const std::string& sceneFile)
{
    rapidjson::StringBuffer buffer;
    Writer w(buffer);
    w.StartObject();
    w.Key("fyrel");
    w.String("scene");
    w.Key("version");
    w.Int(kSceneVersion);
    w.Key("models");
    w.StartArray();
    for (std::size_t i = 0; i < document.models.size(); ++i) {
        writeModel(w, document.models[i], i < document.sources.size() ? document.sources[i] : ModelSource{}, sceneFile);
    }
    w.EndArray();
    w.Key("paths");
    w.StartArray();
    for (const Path& path : document.paths) {
        w.StartObject();
        w.Key("points");
        w.StartArray();
        for (const Vector3& p : path.controlPoints) {
            writeNumbers(w, {p.x, p.y, p.z});
        }
        w.EndArray();
        w.EndObject();
    }
    w.EndArray();
    w.Key("ikControllers");
    w.StartArray();
    for (const IkController& c : document.ikControllers) {
        w.StartObject();
        w.Key("model");
        w.Uint64(indexIn(document.models, c.model));
        w.Key("endEffector");
        w.String(c.endEffectorName.c_str(), static_cast<rapidjson::SizeType>(c.endEffectorName.size()));
        w.Key("target");
        writeNumbers(w, {c.target.x, c.target.y, c.target.z});
        w.Key("targetPlaced");
        w.Bool(c.targetPlaced);
        w.EndObject();
    }
    w.EndArray();
    w.Key("bindings");
    w.StartArray();
    for (const PathBinding& b : document.bindings) {
        w.StartObject();
        w.Key("model");
        w.Uint64(indexIn(document.models, b.model));
        w.Key("path");
        w.Uint64(indexIn(document.paths, b.path));
        if (b.controller) {
            w.Key("controller");
            w.Uint64(indexIn(document.ikControllers, b.controller));
        }
        w.Key("parameter");
        w.Double(b.parameter);
        w.Key("finished");
        w.Bool(b.finished);
        w.EndObject();
    }
    w.EndArray();
    w.Key("views");
    w.StartArray();
    for (const ViewRecord& view : document.views) {
        writeView(w, view);
    }
    w.EndArray();
    w.Key("transport");
    w.StartObject();
    w.Key("speed");
    w.Double(document.transportSpeed);
    w.EndObject();
    w.EndObject();
    return std::string(buffer.GetString(), buffer.GetSize()) + "\n";
}

void saveSceneFile(const Document& document, const std::string& sceneFile)
{
    const std::string text = writeScene(document, sceneFile);
    const fs::path target(sceneFile);
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    std::string temporary = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
    auto failure = [&](const std::string& why) {
        return SceneError("Cannot save scene \"" + sceneFile + "\": " + why);
    };
    const int fd = mkstemp(temporary.data());
    if (fd < 0) {
        throw failure(std::strerror(errno));
    }
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            const std::string why = std::strerror(errno);
            close(fd);
            unlink(temporary.c_str());
            throw failure(why);
        }
        written += static_cast<std::size_t>(n);
    }
    fchmod(fd, 0644);
    if (fsync(fd) != 0 || close(fd) != 0) {
        const std::string why = std::strerror(errno);
        unlink(temporary.c_str());
        throw failure(why);
    }
    if (std::rename(temporary.c_str(), sceneFile.c_str()) != 0) {
        const std::string why = std::strerror(errno);
        unlink(temporary.c_str());
        throw failure(why);
    }
    // The rename itself reaches the disk with the folder.
    const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
}

}  // namespace fyrel
