#include "standalone/nsm.h"

#include <cstdio>
#include <cstdlib>

#if QUORVANEL_NSM

#include "engine/FileReplace.h"
#include "engine/InputGate.h"
#include "engine/InstrumentState.h"
#include "engine/PatchFile.h"
#include "standalone/grax.h"
#include "standalone/pcm.h"

#include <lo/lo.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>

namespace {

constexpr int kApiMajor = 1, kApiMinor = 1;
constexpr int kErrGeneral = -1;  // the protocol's error code for a failure of any kind
constexpr long long kAnswerMostMs = 10000;  // the announce's answer and the open, each

lo_server server = nullptr;
lo_address manager = nullptr;
NsmSwitch switchTo = nullptr;
std::string clientId, file, whole;  // the JACK client's name, PATH.texte, PATH.instrument
LaceyBanks* kept = nullptr;
bool announced = false, opened = false, dirty = false;

long long now_ms() { return monotonic_ns() / 1000000; }

// Every answer goes out from the socket the announce went from.
void reply(const char* path, const char* message) {
    lo_send_from(manager, server, LO_TT_IMMEDIATE, "/reply", "ss", path, message);
}
void error(const char* path, const char* why) {
    lo_send_from(manager, server, LO_TT_IMMEDIATE, "/error", "sis", path, kErrGeneral, why);
}

void notice(const char* path) { lo_send_from(manager, server, LO_TT_IMMEDIATE, path, ""); }

// The session's files under `path`.
void sessionAt(const std::string& path) {
    file = path + ".texte";
    whole = path + ".instrument";
}

// The save Ctrl+S makes, through the input gate, to the session's file,
// then the whole instrument beside it. The bank is written to a new file
// that then replaces the old one, so a save that worked leaves a file of
// another inode there.
bool save(std::string& why) {
    struct stat before, after;
    bool had = stat(file.c_str(), &before) == 0;
    host_input.save(file.c_str());
    if (stat(file.c_str(), &after) != 0 || (had && after.st_ino == before.st_ino)) {
        why = "cannot write " + file;
        return false;
    }
    if (kept) {
        std::string reason = FileReplace::write(whole.c_str(), [](FILE* f) { InstrumentState::write(*kept, f); });
        if (!reason.empty()) {
            why = "cannot write " + whole + ": " + reason;
            return false;
        }
    }
    dirty = false;
    return true;
}

// A string argument. liblo's arguments need not be aligned as its union
// is, so the string is read as the bytes it is.
const char* text(lo_arg* a) { return reinterpret_cast<const char*>(a); }

int onReply(const char*, const char* types, lo_arg** argv, int argc, lo_message, void*) {
    if (argc >= 1 && types[0] == 's' && std::string(text(argv[0])) == "/nsm/server/announce") announced = true;
    return 0;
}

int onError(const char*, const char* types, lo_arg** argv, int argc, lo_message, void*) {
    if (argc < 3 || std::string(types, 3) != "sis" || std::string(text(argv[0])) != "/nsm/server/announce") return 0;
    std::fprintf(stderr, "quorvanel: the session manager refused the program: %s\n", text(argv[2]));
    std::exit(1);
}

int onOpen(const char*, const char*, lo_arg** argv, int, lo_message, void*) {
    std::string path = text(argv[0]), id = text(argv[2]);
    if (!opened) {
        clientId = id;
        sessionAt(path);
        opened = true;
        return 0;  // main answers once the client plays
    }
    std::string why, was = file, wasWhole = whole;
    sessionAt(path);
    if (!switchTo(id.c_str(), file.c_str(), why)) {
        file = was;
        whole = wasWhole;
        error("/nsm/client/open", why.c_str());
        return 0;
    }
    clientId = id;
    dirty = false;
    reply("/nsm/client/open", "switched");
    return 0;
}

int onSave(const char*, const char*, lo_arg**, int, lo_message, void*) {
    std::string why;
    if (save(why)) reply("/nsm/client/save", "saved");
    else error("/nsm/client/save", why.c_str());
    return 0;
}

void lostSocket(int, const char* message, const char* where) {
    std::fprintf(stderr, "quorvanel: session manager: %s%s%s\n", message ? message : "", where ? " at " : "",
                 where ? where : "");
}

// Takes messages until `done` holds, waiting at most kAnswerMostMs.
template <class Done>
void await(Done done, const char* what) {
    long long until = now_ms() + kAnswerMostMs;
    while (!done()) {
        long long left = until - now_ms();
        if (left <= 0) {
            std::fprintf(stderr, "quorvanel: the session manager at %s did not %s\n", std::getenv("NSM_URL"), what);
            std::exit(1);
        }
        pollfd fd = {lo_server_get_socket_fd(server), POLLIN, 0};
        timespec t = {static_cast<time_t>(left / 1000), static_cast<long>(left % 1000) * 1000000};
        host_poll(&fd, 1, &t);
        if (!host_running()) std::exit(0);
        while (lo_server_recv_noblock(server, 0) > 0) {}
    }
}

}  // namespace

bool nsm_begin(const char* executable, NsmSwitch onSwitch) {
    const char* url = std::getenv("NSM_URL");
    if (!url || !*url) return false;
    switchTo = onSwitch;
    manager = lo_address_new_from_url(url);
    server = manager ? lo_server_new_with_proto(nullptr, lo_address_get_protocol(manager), lostSocket) : nullptr;
    if (!server) {
        std::fprintf(stderr, "quorvanel: cannot reach the session manager at NSM_URL=%s\n", url);
        std::exit(1);
    }
    lo_server_add_method(server, "/reply", nullptr, onReply, nullptr);
    lo_server_add_method(server, "/error", nullptr, onError, nullptr);
    lo_server_add_method(server, "/nsm/client/open", "sss", onOpen, nullptr);
    lo_server_add_method(server, "/nsm/client/save", "", onSave, nullptr);
    if (lo_send_from(manager, server, LO_TT_IMMEDIATE, "/nsm/server/announce", "sssiii", "quorvanel",
                     ":switch:dirty:", executable, kApiMajor, kApiMinor, static_cast<int>(getpid())) < 0) {
        std::fprintf(stderr, "quorvanel: cannot reach the session manager at NSM_URL=%s\n", url);
        std::exit(1);
    }
    await([] { return announced; }, "answer");
    await([] { return opened; }, "open a session");
    return true;
}

bool nsm_active() { return opened; }
const char* nsm_client_id() { return clientId.c_str(); }
const char* nsm_file() { return file.c_str(); }

NsmRestore nsm_restore(LaceyBanks& engine, std::string& why) {
    struct stat st, bank;
    if (!opened || stat(whole.c_str(), &st) != 0) return NsmRestore::Nothing;
    std::string text;
    InstrumentState::Banks banks;
    if (!PatchFile::read(whole.c_str(), text, why) || !InstrumentState::read(text, engine.getStabile(), banks, why)) {
        why = whole + ": " + why;
        return NsmRestore::Unreadable;
    }
    banks.swapInto(engine);  // the banks the engine had are freed with `banks`
    bool newer = stat(file.c_str(), &bank) == 0 &&
                 (bank.st_mtim.tv_sec > st.st_mtim.tv_sec ||
                  (bank.st_mtim.tv_sec == st.st_mtim.tv_sec && bank.st_mtim.tv_nsec > st.st_mtim.tv_nsec));
    return newer ? NsmRestore::WholeBankNewer : NsmRestore::Whole;
}

bool nsm_keeps_instrument() { return opened && access(whole.c_str(), F_OK) == 0; }

void nsm_keep(LaceyBanks* engine) { kept = engine; }

void nsm_opened(const char* why) {
    if (!opened) return;
    if (why) error("/nsm/client/open", why);
    else reply("/nsm/client/open", "opened");
}

int nsm_run() {
    if (!server) return 0;
    int n = 0;
    while (lo_server_recv_noblock(server, 0) > 0) n++;
    return n;
}

int nsm_pollfds(pollfd* fds, int room) {
    if (!server || room <= 0) return 0;
    fds[0] = {lo_server_get_socket_fd(server), POLLIN, 0};
    return 1;
}

void nsm_edited() {
    if (!opened || dirty) return;
    dirty = true;
    notice("/nsm/client/is_dirty");
}

bool nsm_save() {
    if (!opened) return false;
    std::string why;
    if (save(why)) notice("/nsm/client/is_clean");
    return true;
}

#else  // built without session support

bool nsm_begin(const char*, NsmSwitch) {
    if (std::getenv("NSM_URL")) std::fprintf(stderr, "quorvanel: built without session support: NSM_URL ignored\n");
    return false;
}
bool nsm_active() { return false; }
const char* nsm_client_id() { return ""; }
const char* nsm_file() { return ""; }
NsmRestore nsm_restore(LaceyBanks&, std::string&) { return NsmRestore::Nothing; }
bool nsm_keeps_instrument() { return false; }
void nsm_keep(LaceyBanks*) {}
void nsm_opened(const char*) {}
int nsm_run() { return 0; }
int nsm_pollfds(pollfd*, int) { return 0; }
void nsm_edited() {}
bool nsm_save() { return false; }

#endif
