// The d2xx backend: the vendor's library, loaded at run time where the user has installed it. Nothing of
// it is linked at build time, so Brisklet builds and runs on machines that have never seen it.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>

#include "LinkBackend.h"
#include "SafeFile.h"

namespace {

std::string LoaderError() {
    const char *text = dlerror();
    return text ? text : "unknown loader error";
}

// Looks up `name` and stores it in `slot` with the slot's own function type. False when it is missing.
template <typename Fn>
bool Resolve(void *library, const char *name, Fn &slot, std::string &missing) {
    dlerror();  // clear an older message, so the one read below belongs to this look-up
    void *symbol = dlsym(library, name);
    if (symbol == nullptr) {
        missing = std::string(name) + " (" + LoaderError() + ")";
        return false;
    }
    slot = reinterpret_cast<Fn>(symbol);
    return true;
}

// A library named by its path is opened as any input file is (SafeFile.h): a FIFO there would otherwise
// hold dlopen(), and the program with it, before it handles its stop signals. The loader then reads the
// very file that was checked, through its descriptor. A bare name is the loader's to look up.
void *OpenLibrary(const std::string &file, std::string &why) {
    if (file.find('/') == std::string::npos) return dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    UniqueFd fd(OpenInputFile(AT_FDCWD, file, why));
    if (fd.Get() < 0) return nullptr;
    const std::string viaFd = "/proc/self/fd/" + std::to_string(fd.Get());
    struct stat st {};
    return dlopen(::stat(viaFd.c_str(), &st) == 0 ? viaFd.c_str() : file.c_str(), RTLD_NOW | RTLD_LOCAL);
}

}  // namespace

bool LoadD2xxLibrary(const std::string &path, D2xxApi &api, std::string &why) {
    const std::string file = path.empty() ? DefaultD2xxLibrary : path;
    std::string refusal;
    void *library = OpenLibrary(file, refusal);
    if (library == nullptr && !refusal.empty()) {
        why = "cannot load the D2XX library " + file + ": " + refusal;
        return false;
    }
    if (library == nullptr) {
        why = "cannot load the D2XX library " + file + ": " + LoaderError();
        return false;
    }
    D2xxApi loaded;
    std::string missing;
    const bool complete =
        Resolve(library, "FT_ListDevices", loaded.FT_ListDevices, missing) &&
        Resolve(library, "FT_Open", loaded.FT_Open, missing) &&
        Resolve(library, "FT_Close", loaded.FT_Close, missing) &&
        Resolve(library, "FT_ResetDevice", loaded.FT_ResetDevice, missing) &&
        Resolve(library, "FT_SetTimeouts", loaded.FT_SetTimeouts, missing) &&
        Resolve(library, "FT_GetQueueStatus", loaded.FT_GetQueueStatus, missing) &&
        Resolve(library, "FT_GetStatus", loaded.FT_GetStatus, missing) &&
        Resolve(library, "FT_Read", loaded.FT_Read, missing) &&
        Resolve(library, "FT_Write", loaded.FT_Write, missing) &&
        Resolve(library, "FT_SetEventNotification", loaded.FT_SetEventNotification, missing);
    if (!complete) {
        dlclose(library);
        why = "the library " + file + " is not a usable D2XX library: it lacks " + missing;
        return false;
    }
    // Never closed: the table points into it for the rest of the run.
    api = loaded;
    return true;
}
