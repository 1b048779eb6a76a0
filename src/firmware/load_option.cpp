#include "firmware/load_option.h"

#include <cstdio>
#include <cstring>

#include "disk/byte_order.h"
#include "output/output.h"
#include "output/printable.h"

namespace {

constexpr uint32_t ActiveAttribute = 0x1;
constexpr size_t FixedBytes = 6; // attributes and file path list length
constexpr size_t NodeHeaderBytes = 4;
constexpr size_t HardDriveNodeBytes = 42;

constexpr uint8_t MediaType = 0x04;
constexpr uint8_t HardDriveSubtype = 0x01;
constexpr uint8_t FilePathSubtype = 0x04;
constexpr uint8_t FirmwareFileSubtype = 0x06;
constexpr uint8_t BbsType = 0x05;
constexpr uint8_t EndType = 0x7F;

HardDriveNode LoadHardDriveNode(const uint8_t* node) {
    HardDriveNode hd{};
    hd.partitionNumber = LoadLe32(node + 4);
    hd.start = LoadLe64(node + 8);
    hd.size = LoadLe64(node + 16);
    std::memcpy(hd.signature, node + 24, sizeof hd.signature);
    hd.signatureType = node[41];
    return hd;
}

// Firmware may split a path over several file path nodes ("\EFI", "BOOT",
// "BOOTX64.EFI"); they are joined with backslashes.
void AppendPath(std::string& file, const std::string& piece) {
    if (!file.empty() && file.back() != '\\' && (piece.empty() || piece.front() != '\\'))
        file += '\\';
    file += piece;
}

// What the nodes of the first device path say, up to its end node.
struct PathNodes {
    bool hardDrive = false;
    HardDriveNode hd{};
    bool hasFile = false;
    std::string file;
    bool bbs = false;
    bool firmwareFile = false;
};

// Returns what is wrong, or "".
std::string WalkDevicePath(const uint8_t* list, size_t bytes, PathNodes& nodes) {
    for (size_t at = 0; at < bytes;) {
        if (bytes - at < NodeHeaderBytes)
            return FormatNumber("device path node cut short at byte %llu of the file path list",
                                at);
        const uint8_t* node = list + at;
        const uint8_t type = node[0], subtype = node[1];
        const size_t length = LoadLe16(node + 2);
        if (length < NodeHeaderBytes)
            return FormatNumber("device path node of %llu bytes", length);
        if (length > bytes - at)
            return FormatNumber("device path node of %llu bytes runs past the file path list",
                                length);
        if (type == EndType)
            return "";
        if (type == MediaType && subtype == HardDriveSubtype) {
            if (length != HardDriveNodeBytes)
                return FormatNumber("hard drive node of %llu bytes, not 42", length);
            if (!nodes.hardDrive)
                nodes.hd = LoadHardDriveNode(node);
            nodes.hardDrive = true;
        } else if (type == MediaType && subtype == FilePathSubtype && nodes.hardDrive) {
            // A whole path, or part of one: its backslashes stay separators.
            const size_t units = (length - NodeHeaderBytes) / 2;
            AppendPath(nodes.file, PrintableUtf16(node + NodeHeaderBytes, units, PrintAs::Text));
            nodes.hasFile = true;
        } else if (type == MediaType && subtype == FirmwareFileSubtype) {
            nodes.firmwareFile = true;
        } else if (type == BbsType) {
            nodes.bbs = true;
        }
        at += length;
    }
    return "file path list without its end node";
}

bool HasSignature(const HardDriveNode& hd) {
    return hd.signatureType == MbrSignatureType || hd.signatureType == GuidSignatureType;
}

void SetTarget(const PathNodes& nodes, LoadOption& option) {
    if (nodes.hardDrive && HasSignature(nodes.hd)) {
        option.target = LoadTarget::Partition;
        option.partition = nodes.hd;
        option.hasFile = nodes.hasFile;
        option.file = nodes.file;
    } else if (nodes.bbs) {
        option.target = LoadTarget::Legacy;
    } else if (nodes.firmwareFile) {
        option.target = LoadTarget::FirmwareApplication;
    }
}

// The zero unit that ends the description, or size when there is none.
size_t DescriptionEnd(const uint8_t* data, size_t size) {
    size_t at = FixedBytes;
    while (at + 2 <= size && LoadLe16(data + at) != 0)
        at += 2;
    return at + 2 <= size ? at : size;
}

} // namespace

LoadOption ParseLoadOption(const uint8_t* data, size_t size) {
    LoadOption option;
    if (size >= 4)
        option.active = (LoadLe32(data) & ActiveAttribute) != 0;
    if (size < FixedBytes) {
        option.damage = FormatNumber("cut short at %llu bytes", size);
        return option;
    }
    const size_t listBytes = LoadLe16(data + 4);
    const size_t end = DescriptionEnd(data, size);
    if (end == size) {
        option.damage = "description without its terminating zero";
        return option;
    }
    option.described = true;
    option.description = PrintableUtf16(data + FixedBytes, (end - FixedBytes) / 2, PrintAs::Text);
    const size_t list = end + 2;
    if (listBytes > size - list) {
        option.damage = FormatNumber("file path list of %llu bytes runs past the end", listBytes);
        return option;
    }
    PathNodes nodes;
    option.damage = WalkDevicePath(data + list, listBytes, nodes);
    if (option.damage.empty())
        SetTarget(nodes, option);
    return option;
}

bool BootEntryNumber(const std::string& name, unsigned* number) {
    if (name.size() != 8 || name.compare(0, 4, "Boot") != 0)
        return false;
    unsigned value = 0;
    for (size_t i = 4; i < 8; ++i) {
        const char c = name[i];
        const bool digit = c >= '0' && c <= '9', upper = c >= 'A' && c <= 'F';
        if (!digit && !upper)
            return false;
        value = value * 16 + static_cast<unsigned>(digit ? c - '0' : c - 'A' + 10);
    }
    *number = value;
    return true;
}
