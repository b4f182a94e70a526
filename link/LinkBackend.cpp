#include "LinkBackend.h"

#include "BackendSerial.h"
#include "D2XXUnit.h"

namespace {

D2xxApi emulatorApi;
void (*emulatorAfterInstall)() = nullptr;

// Splits "kind:path" at the first colon; `hasPath` tells whether a colon was there at all.
void SplitOption(std::string_view value, std::string_view &kind, std::string_view &path, bool &hasPath) {
    const auto colon = value.find(':');
    hasPath = colon != std::string_view::npos;
    kind = value.substr(0, colon);
    path = hasPath ? value.substr(colon + 1) : std::string_view{};
}

}  // namespace

bool ParseLinkOption(std::string_view value, LinkChoice &choice, std::string &why) {
    std::string_view kind, path;
    bool hasPath = false;
    SplitOption(value, kind, path, hasPath);

    LinkChoice parsed;
    if (kind.empty() && !hasPath) {
        parsed.kind = LinkKind::Auto;
    } else if (kind == "auto" || kind == "sim") {
        if (hasPath) {
            why = "--link=" + std::string(kind) + " takes no path";
            return false;
        }
        parsed.kind = kind == "sim" ? LinkKind::Sim : LinkKind::Auto;
    } else if (kind == "d2xx" || kind == "serial") {
        if (hasPath && path.empty()) {
            why = "--link=" + std::string(kind) + ": the path after ':' is empty";
            return false;
        }
        parsed.kind = kind == "d2xx" ? LinkKind::D2xx : LinkKind::Serial;
        parsed.path = std::string(path);
    } else {
        why = "unknown link '" + std::string(value) +
              "' (expected sim, d2xx, d2xx:PATH, serial or serial:PATH)";
        return false;
    }
    choice = parsed;
    return true;
}

bool InstallLinkBackend(const LinkChoice &choice, std::string &why) {
    switch (choice.kind) {
        case LinkKind::Sim:
            if (emulatorApi.FT_Open == nullptr) {
                why = "this program has no built-in emulator";
                return false;
            }
            InstallD2xxApi(emulatorApi);
            if (emulatorAfterInstall) emulatorAfterInstall();
            return true;
        case LinkKind::D2xx: {
            D2xxApi api;
            std::string reason;
            if (!LoadD2xxLibrary(choice.path, api, reason)) {
                // The point first: the status line shows only the start of it.
                why = "no usable D2XX library: use --link=serial for the kernel's ftdi_sio driver (" + reason +
                      ")";
                return false;
            }
            InstallD2xxApi(api);
            return true;
        }
        case LinkKind::Auto: {
            // The vendor's library where it is installed; otherwise the kernel's ftdi_sio driver, which
            // needs nothing installed and finds an FTDI adapter whenever one is plugged in.
            D2xxApi api;
            std::string notFound;
            if (LoadD2xxLibrary(choice.path, api, notFound)) {
                InstallD2xxApi(api);
                return true;
            }
            TheSerialLink().Configure(SerialSettings{});
            InstallD2xxApi(SerialD2xxApi());
            return true;
        }
        case LinkKind::Serial: {
            // The path may carry a baud rate: serial:/dev/ttyUSB0@115200, or serial:@115200 to discover.
            SerialSettings settings;
            if (!ParseSerialTarget(choice.path, settings, why)) return false;
            TheSerialLink().Configure(settings);
            InstallD2xxApi(SerialD2xxApi());
            return true;
        }
    }
    why = "unknown link kind";
    return false;
}

void ProvideEmulatorBackend(const D2xxApi &api, void (*afterInstall)()) {
    emulatorApi = api;
    emulatorAfterInstall = afterInstall;
}

OpenProblem LinkOpenProblem() {
    // Whatever filled the table last (a test may install one directly) decides.
    return FtApi.FT_Open == SerialD2xxApi().FT_Open ? TheSerialLink().LastOpenProblem() : OpenProblem{};
}
