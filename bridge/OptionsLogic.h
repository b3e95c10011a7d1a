// What the Preferences dialog does to the bridge, without any widget.
//
// The dialog (ui/OptionsDialog) moves texts and check states between its controls and OptionsFields; this
// class fills the fields from the running bridge and applies and saves them on OK.
#pragma once

#include "BridgeState.h"

#include <string>

namespace corvantle {

class WindowOps;
class TelnetSocket;
class PacketEngine;
class SettingsStore;

// The dialog's controls as texts and check states.
struct OptionsFields {
    std::string callsign;          // CallsignText
    std::string cluster;           // ClusterText
    std::string digis;             // via
    std::string localPort;         // PortText
    std::string radioPort;         // RadioPortText
    std::string autoMinimizeDelay; // AutoMinimizeDelayText, in seconds
    bool connectVia = false;       // ConnectVia
    bool autoMinimize = false;     // AutoMinimizeCheck
    bool monitorMode = false;      // RX_Check
    bool compatibilityMode = false; // Compatibility
};

struct OkOutcome {
    bool closeDialog = true; // false: keep the dialog open and show `message`
    std::string message;     // empty when all went well
};

class OptionsLogic final {
public:
    OptionsLogic(BridgeState &state, WindowOps &window, TelnetSocket &socket, PacketEngine &engine,
                 SettingsStore &store);

    // The values the dialog shows when it opens.
    OptionsFields fieldsToShow() const;

    // The digipeater box changes the bridge state at once, before and without OK.
    void setConnectViaDigipeaters(bool ticked);

    // Checks, applies and saves the fields. A field that does not fit refuses the whole OK (nothing is
    // applied); a store that cannot be written keeps the applied values and reports where and why.
    OkOutcome applyAndSave(const OptionsFields &fields);

private:
    BridgeState &state_;
    WindowOps &window_;
    TelnetSocket &socket_;
    PacketEngine &engine_;
    SettingsStore &store_;
};

} // namespace corvantle
