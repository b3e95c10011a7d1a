// What the Preferences dialog does to the bridge, without any widget.
//
// The dialog (ui/OptionsDialog) moves texts and check states between its controls and OptionsFields; this
// class fills the fields from the running bridge's settings and, for what applies at the next start, from
// the settings as the file holds them (a copy of the value start-up read, kept up to date by each save).
// On OK it hands the bridge a changed copy (the bridge decides what applies now and what from the next
// link) and saves the fields' texts.
#pragma once

#include "BridgeState.h"
#include "ProgramSettings.h"
#include "RadioPorts.h"
#include "SettingsTable.h"

#include <cstdint>
#include <string>

namespace corvantle {

class Bridge;
class WindowOps;
class SettingsWriter;

// The dialog's controls as texts and check states.
struct OptionsFields {
    std::string callsign;            // CallsignText
    std::string cluster;             // ClusterText
    std::string digis;               // via
    std::string localPort;           // PortText
    std::string radioPort;           // RadioPortText: a number, or a choice as radioPortChoiceText shows it
    std::string autoMinimizeDelay;   // AutoMinimizeDelayText, in seconds
    bool connectVia = false;         // ConnectVia
    bool autoMinimize = false;       // AutoMinimizeCheck
    bool monitorMode = false;        // RX_Check
    bool compatibilityMode = false;  // Compatibility
    std::string engineHost;          // EngineHostText
    std::string enginePort;          // EnginePortText
    LinkEnd linkEnd = LinkEnd::Keep; // LinkEndChoice
    std::string keepLinkSeconds;     // KeepLinkText
    std::string clients;             // ClientsText
    bool quietKeepalives = false;    // QuietKeepalivesCheck
    bool kissEngine = false;         // EngineKindChoice: KISS, not AGW
    std::string kissAddress;         // KissAddressText
    // The KISS link's settings, whole numbers as the spin boxes show them.
    std::string kissMaxFrame;     // KissMaxFrameField
    std::string kissPaclen;       // KissPaclenField
    std::string kissFrackSeconds; // KissFrackField
    std::string kissRetries;      // KissRetriesField
    std::string kissTxDelay;      // KissTxDelayField, in 10 ms steps
    std::string listenAddress;    // ListenAddressText
    std::string allowedClients;   // AllowedClientsText
};

// A radio port the engine offers, as the radio port field lists it: "1: first soundcard right".
std::string radioPortChoiceText(const RadioPortChoice &choice);

// The field a refusal names, so the dialog can bring it to the front.
enum class OptionsField {
    None, // not one field: the store could not be written
    Callsign,
    Cluster,
    Digis,
    LocalPort,
    RadioPort,
    AutoMinimizeDelay,
    EngineHost,
    EnginePort,
    KissAddress,
    KissMaxFrame,
    KissPaclen,
    KissFrackSeconds,
    KissRetries,
    KissTxDelay,
    KeepLink,
    Clients,
    ListenAddress,
    AllowedClients,
};

struct OkOutcome {
    bool closeDialog = true;                 // false: keep the dialog open and show `message`
    std::string message;                     // empty when all went well
    OptionsField field = OptionsField::None; // the field the message is about
};

class OptionsLogic final {
  public:
    // `stored` is the settings as the file holds them; `writer` is where OK saves them.
    OptionsLogic(Bridge &bridge, WindowOps &window, ProgramSettings stored, SettingsWriter &writer);

    // The values the dialog shows when it opens. OK checks the callsigns typed since against them: what was
    // stored (the unconfigured defaults, or a file written by hand) is the user's to change when they choose.
    OptionsFields fieldsToShow();

    // Where to ask for the engine's radio ports while the dialog is open: the stored address, which is the
    // one the next start will use.
    settings::EngineAddress engineToAsk() const;
    // The radio port in use now, which the question names in its header.
    std::uint8_t radioPortInUse() const;

    // The digipeater box changes the bridge state at once, before and without OK.
    void setConnectViaDigipeaters(bool ticked);

    // Checks, applies and saves the fields. A field that does not fit refuses the whole OK (nothing is
    // applied); a store that cannot be written keeps the applied values and reports where and why. The KISS
    // TNC and its link's settings are checked and saved only while KISS is the chosen engine: with AGW their
    // fields are out of use, and the file keeps what it holds for them.
    OkOutcome applyAndSave(const OptionsFields &fields);

  private:
    Bridge &bridge_;
    const BridgeState &state_; // the bridge's settings in force, read only
    WindowOps &window_;
    ProgramSettings stored_; // what the file holds: what start-up read, then what OK saved
    SettingsWriter &writer_;
    OptionsFields openedWith_; // what fieldsToShow last gave the dialog
};

} // namespace corvantle
