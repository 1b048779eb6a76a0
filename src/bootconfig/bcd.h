// The boot configuration data of Windows' boot manager, from a BCD store read
// by the hive reader: Objects\{id}\Description\Type and the elements of
// Objects\{id}\Elements\{element}\Element that tell where each entry boots from.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "registry/hive.h"

constexpr uint32_t BcdBootManager = 0x10100002;
constexpr uint32_t BcdFirmwareBootManager = 0x10100001;
constexpr uint32_t BcdWindowsLoader = 0x10200003;
constexpr uint32_t BcdWindowsResume = 0x10200004;

enum class BcdDeviceKind { GptPartition, MbrPartition, Boot, Locate, Ramdisk, Other };

// A device element as the boot manager reads it: 16 bytes of options (an
// object's id), the device type at 0x10, then the type's own data from 0x20.
struct BcdDevice {
    BcdDeviceKind kind = BcdDeviceKind::Other;
    uint32_t type = 0;
    uint8_t partitionGuid[16] = {}; // GPT: the partition's unique GUID
    uint8_t diskGuid[16] = {};      // GPT: the disk's GUID
    uint64_t offset = 0;            // MBR: the partition's first byte on its disk
    uint32_t signature = 0;         // MBR: bytes 440-443 of the disk's MBR
    // Ramdisk: the device that holds its image (one level: a ramdisk's parent
    // that is a ramdisk itself is not followed) and the image's path there.
    std::vector<BcdDevice> parent;
    std::string file;
};

struct BcdObject {
    std::string id; // "{9dea862c-...}" as stored
    uint32_t type = 0;
    std::string description;
    bool hasDevice = false, hasOsDevice = false;
    BcdDevice device, osDevice;
    std::string path, systemRoot;
    std::string defaultId; // the boot manager's default, a loader's resume object
    std::vector<std::string> displayOrder;
    bool hasTimeout = false;
    uint64_t timeout = 0;
};

struct BcdStore {
    std::vector<BcdObject> objects;
    bool savedCleanly = true; // both sequence numbers equal
};

// The objects of the store, in the order of its keys; false when the hive cannot
// be read (hive.reason says why).
bool ReadBcdStore(Hive& hive, BcdStore* store);

// The object of that id (without regard to case), or nullptr.
const BcdObject* FindBcdObject(const BcdStore& store, const std::string& id);

// "{bootmgr}" for the well-known ids, else the id itself.
std::string BcdObjectName(const std::string& id);
// "Windows boot loader", ..., or "application type 0x%08x".
std::string BcdTypeName(uint32_t type);
// "partition GUID G", "the partition at byte N of the disk with signature XXXXXXXX",
// "boot", "locate", "ramdisk [PARENT]FILE", or "device type N".
std::string BcdDeviceIdentity(const BcdDevice& device);
