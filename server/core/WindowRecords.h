// Records the core hands to the server window: accepted logins (rows of the "Login Users"
// list), events (rows of the "Events" list) and popup requests. Texts are UTF-8.
#pragma once

#include <cstdint>
#include <string>

namespace daq {

// One accepted login. Owned by the core's login queue, then by the window's row.
struct _TLinkTSData {
    std::string ID;
    double LoginTime = 0;  // local time, days since 1899-12-30
    std::string OS;
    std::string OSVersion;
    std::string ModelName;
    std::string Location;            // kept, not shown
    std::uint64_t ConnectionId = 0;  // the connection that logged in
    std::string PeerAddress;         // copied at login: a row may outlive its connection
};

enum TServerEventType : int32_t {
    etLogin = 0,   // shown as text table entry 34
    etLogout = 1,  // shown as text table entry 35
    etOther = 2,   // shown as Text
};

struct TDAQServerEvent {
    std::string ID;
    double Time = 0;  // local time, days since 1899-12-30
    std::string IP;
    int32_t EventType = etOther;
    std::string Text;
};

// A popup the window composes from its text table: login (entries 23, 27, 24 with ID, 25 with
// IP; shade 0xF2BF82) or logout (entries 19, 27, 22 with ID; shade 0x666600).
struct PopupRequest {
    enum class Kind { Login, Logout };
    Kind kind = Kind::Login;
    std::string ID;
    std::string IP;
};

}  // namespace daq
