#include "attribute_catalogue.h"

#include "device/knowndrives.h"

#include <array>
#include <cstring>

namespace zentrova::smart {

namespace {

// Options 1 to 4 pick a variant; every other option names like option 0.
constexpr int kOptionSlots = 5;

int OptionSlot(std::int32_t option) {
    return option >= 1 && option <= 4 ? option : 0;
}

const char* NameText(int id, int option) {
    switch (id) {
    case 0:
        return "";
    case 1:
        return "Raw Read Error Rate";
    case 2:
        return "Throughput Performance";
    case 3:
        return "Spin Up Time";
    case 4:
        return "Start / Stop Count";
    case 5:
        return "Reallocated Sector Count";
    case 6:
        return "Read Channal Margin";
    case 7:
        return "Seek Error Rate";
    case 8:
        return "Seek Time Performance";
    case 9:
        switch (option) {
        case 1:
            return "Power On Minutes";
        case 2:
            return "Temperature";
        case 3:
            return "Power On Seconds";
        case 4:
            return "Power On Half Minutes";
        default:
            return "Power On Hour";
        }
    case 10:
        return "Spin-Up Retry Count";
    case 11:
        return "Calibration Retry Count";
    case 12:
        return "Power Cycle Count";
    case 13:
        return "Read Soft Error Rate";
    case 192:
        return option == 1 ? "Emergency Retract Cycle Count" : "Power-Off Retract Count";
    case 193:
        return "Load / Unload Cycle Count";
    case 194:
        return option == 1 ? "Temperature Celsius x10" : option == 2 ? "Unknown" : "Temperature";
    case 195:
        return "ECC on the fly count";
    case 196:
        return "Reallocation Event Count";
    case 197:
        return "Current Pending Sector Count";
    case 198:
        return option == 1 ? "Off-Line Scan Uncorrected Sector Count" : "Offline Uncorrectable";
    case 199:
        return "Ultra ATA CRC Error Rate";
    case 200:
        return "Write Error Count";
    case 201:
        return option == 1 ? "Detected TA Count" : "Soft Read Error Rate";
    case 202:
        return "TA Increase Count";
    case 203:
        return "Run Out Cancel";
    case 204:
        return "Shock Count Write Operation";
    case 205:
        return "Shock Rate Write Operation";
    case 206:
        return "Flying Height Measurement";
    case 207:
        return "Spin High Current";
    case 208:
        return "Spin Buzz";
    case 209:
        return "Offline Seek Performnce";
    case 220:
        return option == 1 ? "Temperature" : "Disk Shift";
    case 221:
        return "Sense Error Rate";
    case 222:
        return "Loaded Hours";
    case 223:
        return "Load Retry Count";
    case 224:
        return "Load Friction";
    case 225:
        return "Load Cycle Count";
    case 226:
        return "Load in Time";
    case 227:
        return "Torq-amp Count";
    case 228:
        return "Power-off Retract Count";
    case 230:
        return "Head Amplitude";
    case 231:
        return "Temperature Celsius";
    case 240:
        return "Head Flying Hours";
    case 250:
        return "Read Error Retry Rate";
    default:
        return "Unknown";
    }
}

// Built once, so that filling a table copies shared strings instead of
// formatting 30 entries of text on every poll.
struct Tables {
    std::array<std::array<QString, kOptionSlots>, 256> names;
    std::array<QString, 256> idText;
    std::array<QString, 256> byteText;
    Tables() {
        for (int id = 0; id < 256; ++id) {
            for (int o = 0; o < kOptionSlots; ++o)
                names[id][o] = QString::fromLatin1(NameText(id, o));
            idText[id] = QString::asprintf("%02X", static_cast<unsigned>(id));
            byteText[id] = QString::number(id);
        }
    }
};

const Tables& TheTables() {
    static const Tables tables;
    return tables;
}

} // namespace

const QString& AttributeName(std::uint8_t attributeId, std::int32_t option) {
    return TheTables().names[attributeId][OptionSlot(option)];
}

bool DependsOnVendorOption(std::uint8_t attributeId) {
    switch (attributeId) {
    case 9:
    case 192:
    case 194:
    case 198:
    case 201:
    case 220:
        return true;
    default:
        return false;
    }
}

std::int32_t VendorOptionFor(const device::xDEV_INFO* drive, std::uint8_t attributeId) {
    if (drive == nullptr || !DependsOnVendorOption(attributeId))
        return 0;
    // The table is searched with C string functions: never past the fields.
    char model[sizeof drive->szModelNum + 1] = {};
    char firmware[sizeof drive->szFirmwareRev + 1] = {};
    std::memcpy(model, drive->szModelNum, sizeof drive->szModelNum);
    std::memcpy(firmware, drive->szFirmwareRev, sizeof drive->szFirmwareRev);
    return device::lookupdrive(model, firmware, attributeId);
}

const QString& AttributeIdText(std::uint8_t attributeId) {
    return TheTables().idText[attributeId];
}

const QString& ByteText(std::uint8_t value) {
    return TheTables().byteText[value];
}

} // namespace zentrova::smart
