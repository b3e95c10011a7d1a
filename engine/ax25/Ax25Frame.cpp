#include "Ax25Frame.h"

#include <array>

namespace corvantle::ax25 {
namespace {

constexpr std::uint8_t kPollFinalBit = 0x10;
constexpr std::size_t kMinAddresses = 2;
constexpr std::size_t kFrmrInfoBytes = 3;

struct UnnumberedCode {
    FrameType type;
    std::uint8_t control; // without the poll/final bit
};

constexpr std::array<UnnumberedCode, 7> kUnnumbered{{
    {FrameType::SABM, 0x2F},
    {FrameType::SABME, 0x6F},
    {FrameType::UA, 0x63},
    {FrameType::DISC, 0x43},
    {FrameType::DM, 0x0F},
    {FrameType::FRMR, 0x87},
    {FrameType::UI, 0x03},
}};

struct SupervisoryCode {
    FrameType type;
    std::uint8_t bits; // bits 2 and 3 of the control field
};

constexpr std::array<SupervisoryCode, 3> kSupervisory{{
    {FrameType::RR, 0x00},
    {FrameType::RNR, 0x04},
    {FrameType::REJ, 0x08},
}};

std::uint8_t controlOf(const Frame &frame) {
    const std::uint8_t pf = frame.pollFinal ? kPollFinalBit : 0;
    const auto nr = static_cast<std::uint8_t>((frame.nr & 7) << 5);
    if (frame.type == FrameType::I)
        return nr | pf | static_cast<std::uint8_t>((frame.ns & 7) << 1);
    for (const SupervisoryCode &code : kSupervisory)
        if (code.type == frame.type)
            return nr | pf | code.bits | 0x01;
    for (const UnnumberedCode &code : kUnnumbered)
        if (code.type == frame.type)
            return code.control | pf;
    return 0;
}

// Reads the control field into `frame`; false for a control field of a type not listed.
bool readControl(std::uint8_t control, Frame &frame) {
    frame.pollFinal = (control & kPollFinalBit) != 0;
    if ((control & 0x01) == 0) {
        frame.type = FrameType::I;
        frame.ns = (control >> 1) & 7;
        frame.nr = control >> 5;
        return true;
    }
    if ((control & 0x03) == 0x01) {
        for (const SupervisoryCode &code : kSupervisory)
            if ((control & 0x0C) == code.bits) {
                frame.type = code.type;
                frame.nr = control >> 5;
                return true;
            }
        return false;
    }
    for (const UnnumberedCode &code : kUnnumbered)
        if ((control & ~kPollFinalBit) == code.control) {
            frame.type = code.type;
            return true;
        }
    return false;
}

// Reads the address fields into `frame`; the number of bytes they took, or 0 when they are malformed.
std::size_t readAddresses(std::string_view bytes, Frame &frame) {
    std::vector<AddressField> fields;
    for (std::size_t offset = 0; offset + kAddressBytes <= bytes.size(); offset += kAddressBytes) {
        const std::optional<AddressField> field = decodeAddress(bytes.substr(offset, kAddressBytes));
        if (!field || fields.size() == kMinAddresses + kMaxDigipeaters)
            return 0;
        fields.push_back(*field);
        if (field->last)
            break;
    }
    if (fields.size() < kMinAddresses || !fields.back().last)
        return 0;
    frame.destination = fields[0].address;
    frame.source = fields[1].address;
    // Version 1 stations set both bits alike; the destination's bit then decides.
    frame.command = fields[0].topBit;
    for (std::size_t i = kMinAddresses; i < fields.size(); ++i)
        frame.via.push_back({fields[i].address, fields[i].topBit});
    return fields.size() * kAddressBytes;
}

bool infoFits(const Frame &frame) {
    switch (frame.type) {
    case FrameType::I:
    case FrameType::UI:
        return frame.info.size() <= kMaxInfoBytes;
    case FrameType::FRMR:
        return frame.info.size() == kFrmrInfoBytes;
    default:
        return frame.info.empty();
    }
}

} // namespace

bool carriesText(FrameType type) {
    return type == FrameType::I || type == FrameType::UI;
}

std::string encode(const Frame &frame) {
    const std::size_t hops = std::min(frame.via.size(), kMaxDigipeaters);
    std::string bytes = encodeAddress(frame.destination, frame.command, false);
    bytes += encodeAddress(frame.source, !frame.command, hops == 0);
    for (std::size_t i = 0; i < hops; ++i)
        bytes += encodeAddress(frame.via[i].address, frame.via[i].repeated, i + 1 == hops);
    bytes += static_cast<char>(controlOf(frame));
    if (carriesText(frame.type))
        bytes += static_cast<char>(frame.pid);
    if (carriesText(frame.type) || frame.type == FrameType::FRMR)
        bytes += frame.info;
    return bytes;
}

std::optional<Frame> decode(std::string_view bytes) {
    Frame frame;
    const std::size_t addressBytes = readAddresses(bytes, frame);
    if (addressBytes == 0 || addressBytes >= bytes.size())
        return std::nullopt;
    if (!readControl(static_cast<std::uint8_t>(bytes[addressBytes]), frame))
        return std::nullopt;
    std::size_t infoStart = addressBytes + 1;
    if (carriesText(frame.type)) {
        if (infoStart >= bytes.size())
            return std::nullopt;
        frame.pid = static_cast<std::uint8_t>(bytes[infoStart++]);
    }
    frame.info = std::string(bytes.substr(infoStart));
    if (!infoFits(frame))
        return std::nullopt;
    return frame;
}

const char *typeName(FrameType type) {
    switch (type) {
    case FrameType::I:
        return "I";
    case FrameType::RR:
        return "RR";
    case FrameType::RNR:
        return "RNR";
    case FrameType::REJ:
        return "REJ";
    case FrameType::SABM:
        return "SABM";
    case FrameType::SABME:
        return "SABME";
    case FrameType::UA:
        return "UA";
    case FrameType::DISC:
        return "DISC";
    case FrameType::DM:
        return "DM";
    case FrameType::FRMR:
        return "FRMR";
    case FrameType::UI:
        return "UI";
    }
    return "?";
}

} // namespace corvantle::ax25
