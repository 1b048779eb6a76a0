#include "bootconfig/bcd.h"

#include <cstdio>
#include <cstring>

#include "disk/byte_order.h"
#include "layout/guid.h"
#include "output/printable.h"

namespace {

constexpr uint32_t DeviceTypeAt = 0x10;
constexpr uint32_t DeviceDataAt = 0x20;
constexpr uint32_t PartitionStyleAt = 0x34;
constexpr uint32_t DiskIdentityAt = 0x38;
constexpr uint32_t PartitionDeviceBytes = DiskIdentityAt + 16;
constexpr uint32_t MbrStyle = 1;
constexpr uint32_t RamdiskParentBytesAt = 8; // the parent's size, after its type and flags

struct DeviceTypeRow {
    uint32_t type;
    BcdDeviceKind kind;
};

const DeviceTypeRow DeviceTypes[] = {
    {3, BcdDeviceKind::Ramdisk},
    {5, BcdDeviceKind::Boot},
    {6, BcdDeviceKind::GptPartition}, // or MBR, by its style
    {8, BcdDeviceKind::Locate},
};

struct WellKnownId {
    const char* guid;
    const char* name;
};

const WellKnownId WellKnownIds[] = {
    {"{9dea862c-5cdd-4e70-acc1-f32b344d4795}", "{bootmgr}"},
    {"{a5a30fa2-3d06-4e9f-b5f4-a01df9d1fcba}", "{fwbootmgr}"},
    {"{b2721d73-1db4-4c62-bf78-c548a880142d}", "{memdiag}"},
    {"{466f5a88-0af2-4f76-9038-095b170dc21c}", "{ntldr}"},
    {"{fa926493-6f1c-4193-a414-58f0b2456d1e}", "{current}"},
    {"{1cae1eb7-a0df-4d4d-9851-4860e34ef535}", "{default}"},
    {"{5189b25c-5558-4bf2-bca4-289b11bd29e2}", "{badmemory}"},
    {"{6efb52bf-1766-41db-a6b3-0ee5eff72bd7}", "{bootloadersettings}"},
    {"{4636856e-540f-4170-a130-a84776f4c654}", "{dbgsettings}"},
    {"{0ce4991b-e6b3-4b16-b23c-5e0d9250e5d9}", "{emssettings}"},
    {"{7ea2e1ac-2e61-4728-aaa3-896d9d0a9f0e}", "{globalsettings}"},
    {"{7ff607e0-4395-11db-b0de-0800200c9a66}", "{hypervisorsettings}"},
    {"{1afa9c49-16ab-4a5c-901b-212802da9460}", "{resumeloadersettings}"},
    {"{ae5534e0-a924-466c-b836-758539a3ee3a}", "{ramdiskoptions}"},
};

struct TypeRow {
    uint32_t type;
    const char* name;
};

const TypeRow ObjectTypes[] = {
    {0x10100002, "Windows boot manager"},  {0x10100001, "firmware boot manager"},
    {0x10200003, "Windows boot loader"},   {0x10200004, "Windows resume application"},
    {0x10200005, "Windows memory tester"}, {0x10300006, "legacy loader"},
    {0x10400008, "boot sector"},
};

// One NUL-terminated UTF-16 string of a REG_SZ or REG_MULTI_SZ value, by the
// printing rule of names; *at moves past its NUL.
std::string Text(const std::vector<uint8_t>& data, size_t* at) {
    const size_t start = *at;
    while (*at + 1 < data.size() && LoadLe16(data.data() + *at) != 0)
        *at += 2;
    const std::string text = PrintableUtf16(data.data() + start, (*at - start) / 2, PrintAs::Text);
    if (*at + 1 < data.size())
        *at += 2;
    return text;
}

std::string Text(const std::vector<uint8_t>& data) {
    size_t at = 0;
    return Text(data, &at);
}

std::vector<std::string> Texts(const std::vector<uint8_t>& data) {
    std::vector<std::string> texts;
    for (size_t at = 0; at + 1 < data.size();) {
        std::string text = Text(data, &at);
        if (text.empty())
            break;
        texts.push_back(text);
    }
    return texts;
}

BcdDevice Device(const std::vector<uint8_t>& data, bool parentToo = true);

// A ramdisk's data is its parent's device (its type, flags, size and data, as
// at 0x10 of an element) and then the image's path on it.
void ReadRamdisk(BcdDevice& device, const std::vector<uint8_t>& data) {
    if (data.size() < DeviceDataAt + RamdiskParentBytesAt + 4)
        return;
    const uint32_t parentBytes = LoadLe32(data.data() + DeviceDataAt + RamdiskParentBytesAt);
    if (parentBytes < DeviceDataAt - DeviceTypeAt || parentBytes > data.size() - DeviceDataAt)
        return;
    const uint8_t* parent = data.data() + DeviceDataAt;
    std::vector<uint8_t> element(DeviceTypeAt, 0); // the parent without options
    element.insert(element.end(), parent, parent + parentBytes);
    device.parent.push_back(Device(element, false));
    size_t at = DeviceDataAt + parentBytes;
    device.file = Text(data, &at);
}

BcdDevice Device(const std::vector<uint8_t>& data, bool parentToo) {
    BcdDevice device;
    if (data.size() < DeviceDataAt)
        return device;
    device.type = LoadLe32(data.data() + DeviceTypeAt);
    for (const DeviceTypeRow& row : DeviceTypes)
        if (row.type == device.type)
            device.kind = row.kind;
    if (device.kind == BcdDeviceKind::Ramdisk && parentToo)
        ReadRamdisk(device, data);
    if (device.kind != BcdDeviceKind::GptPartition)
        return device;
    if (data.size() < PartitionDeviceBytes) {
        device.kind = BcdDeviceKind::Other;
        return device;
    }
    const uint8_t* at = data.data();
    if (LoadLe32(at + PartitionStyleAt) == MbrStyle) {
        device.kind = BcdDeviceKind::MbrPartition;
        device.offset = LoadLe64(at + DeviceDataAt);
        device.signature = LoadLe32(at + DiskIdentityAt);
    } else {
        std::memcpy(device.partitionGuid, at + DeviceDataAt, 16);
        std::memcpy(device.diskGuid, at + DiskIdentityAt, 16);
    }
    return device;
}

using ElementReader = void (*)(BcdObject&, const std::vector<uint8_t>&);

struct ElementRow {
    const char* element;
    ElementReader read;
};

const ElementRow Elements[] = {
    {"11000001",
     [](BcdObject& o, const std::vector<uint8_t>& d) {
         o.hasDevice = true;
         o.device = Device(d);
     }},
    {"21000001",
     [](BcdObject& o, const std::vector<uint8_t>& d) {
         o.hasOsDevice = true;
         o.osDevice = Device(d);
     }},
    {"12000002", [](BcdObject& o, const std::vector<uint8_t>& d) { o.path = Text(d); }},
    {"12000004", [](BcdObject& o, const std::vector<uint8_t>& d) { o.description = Text(d); }},
    {"22000002", [](BcdObject& o, const std::vector<uint8_t>& d) { o.systemRoot = Text(d); }},
    {"23000003", [](BcdObject& o, const std::vector<uint8_t>& d) { o.defaultId = Text(d); }},
    {"24000001", [](BcdObject& o, const std::vector<uint8_t>& d) { o.displayOrder = Texts(d); }},
    {"25000004",
     [](BcdObject& o, const std::vector<uint8_t>& d) {
         o.hasTimeout = d.size() >= 8;
         o.timeout = o.hasTimeout ? LoadLe64(d.data()) : 0;
     }},
};

bool ReadObject(Hive& hive, const HiveName& key, BcdObject* object) {
    object->id = key.name;
    std::vector<HiveName> parts, elements;
    if (!ListSubkeys(hive, key.cell, &parts))
        return false;
    HiveValue value;
    for (const HiveName& part : parts) {
        if (SameHiveName(part.name, "Description") && FindValue(hive, part.cell, "Type", &value) &&
            value.data.size() >= 4)
            object->type = LoadLe32(value.data.data());
        if (!SameHiveName(part.name, "Elements"))
            continue;
        if (!ListSubkeys(hive, part.cell, &elements))
            return false;
        for (const HiveName& element : elements)
            for (const ElementRow& row : Elements)
                if (SameHiveName(element.name, row.element) &&
                    FindValue(hive, element.cell, "Element", &value))
                    row.read(*object, value.data);
    }
    return !hive.unreadable;
}

} // namespace

bool ReadBcdStore(Hive& hive, BcdStore* store) {
    *store = BcdStore{};
    store->savedCleanly = hive.primarySequence == hive.secondarySequence;
    uint32_t objects = 0;
    std::vector<HiveName> ids;
    if (hive.unreadable || !FindKey(hive, "Objects", &objects) ||
        !ListSubkeys(hive, objects, &ids)) {
        if (!hive.unreadable)
            hive.reason = "no Objects key";
        hive.unreadable = true;
        return false;
    }
    for (const HiveName& id : ids) {
        BcdObject object;
        if (!ReadObject(hive, id, &object))
            return false;
        store->objects.push_back(object);
    }
    return true;
}

const BcdObject* FindBcdObject(const BcdStore& store, const std::string& id) {
    for (const BcdObject& object : store.objects)
        if (SameHiveName(object.id, id))
            return &object;
    return nullptr;
}

std::string BcdObjectName(const std::string& id) {
    for (const WellKnownId& row : WellKnownIds)
        if (SameHiveName(row.guid, id))
            return row.name;
    return id;
}

std::string BcdTypeName(uint32_t type) {
    for (const TypeRow& row : ObjectTypes)
        if (row.type == type)
            return row.name;
    char text[40];
    std::snprintf(text, sizeof text, "application type 0x%08x", type);
    return text;
}

std::string BcdDeviceIdentity(const BcdDevice& device) {
    char text[96];
    switch (device.kind) {
    case BcdDeviceKind::GptPartition: return "partition GUID " + FormatGuid(device.partitionGuid);
    case BcdDeviceKind::MbrPartition:
        std::snprintf(text, sizeof text,
                      "the partition at byte %llu of the disk with signature %08X",
                      static_cast<unsigned long long>(device.offset), device.signature);
        return text;
    case BcdDeviceKind::Boot: return "boot";
    case BcdDeviceKind::Locate: return "locate";
    case BcdDeviceKind::Ramdisk:
        if (device.parent.empty())
            return "ramdisk";
        return "ramdisk [" + BcdDeviceIdentity(device.parent.front()) + "]" + device.file;
    case BcdDeviceKind::Other: break;
    }
    return "device type " + std::to_string(device.type);
}
