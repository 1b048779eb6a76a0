// BCD stores written by hivexsh: the hive reader against hivexget for every key
// and value it returns, and the damage it declines to follow.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>

#include "bcd_stores.h"
#include "bootconfig/bcd.h"
#include "disk/byte_order.h"
#include "program_run.h"
#include "registry/hive.h"
#include "sample_images.h"

namespace {

// A value as hivexget lists a key's values.
std::string Listed(const HiveValue& v) {
    char text[32];
    std::string line = "\"" + v.name + "\"=";
    if (v.type == RegSz) {
        std::string s;
        for (size_t i = 0; i + 1 < v.data.size() && v.data[i] != 0; i += 2) {
            if (v.data[i] == '\\' || v.data[i] == '"')
                s += '\\'; // as a .reg file writes them
            s += static_cast<char>(v.data[i]);
        }
        return line + "\"" + s + "\"\n";
    }
    if (v.type == RegDword && v.data.size() == 4) {
        std::snprintf(text, sizeof text, "dword:%08x", LoadLe32(v.data.data()));
        return line + text + "\n";
    }
    std::snprintf(text, sizeof text, "hex(%x):", v.type);
    line += text;
    for (size_t i = 0; i < v.data.size(); ++i) {
        std::snprintf(text, sizeof text, "%s%02x", i ? "," : "", v.data[i]);
        line += text;
    }
    return line + "\n";
}

// What the BCD layer makes of a store, one line an object.
std::string Decoded(const BcdStore& store) {
    std::string text;
    for (const BcdObject& o : store.objects) {
        text += BcdObjectName(o.id) + " " + BcdTypeName(o.type) + " \"" + o.description + "\"";
        if (o.hasDevice)
            text += " device " + BcdDeviceIdentity(o.device);
        if (!o.path.empty())
            text += " path " + o.path;
        if (o.hasOsDevice)
            text += " os " + BcdDeviceIdentity(o.osDevice) + " root " + o.systemRoot;
        if (!o.defaultId.empty())
            text += " default " + BcdObjectName(o.defaultId);
        for (const std::string& id : o.displayOrder)
            text += " order " + BcdObjectName(id);
        if (o.hasTimeout)
            text += " timeout " + std::to_string(o.timeout);
        text += "\n";
    }
    return text;
}

std::string ExpectedObjects(const std::string& esp, const std::string& windows, const char* manager,
                            const char* loader) {
    const std::string w = std::string(WindowsLoaderId), r = std::string(ResumeId);
    return "{bootmgr} Windows boot manager \"Windows Boot Manager\" device " + esp + " path " +
           manager + " default " + w + " order " + w + " timeout 30\n" + w +
           " Windows boot loader \"Windows 11\" device " + windows + " path \\Windows\\system32\\" +
           loader + " os " + windows + " root \\Windows\n" + r +
           " Windows resume application \"Windows Resume Application\" device " + windows +
           " path \\Windows\\system32\\winresume.efi\n"
           "{memdiag} Windows memory tester \"Windows Memory Diagnostic\" device boot path "
           "\\EFI\\Microsoft\\Boot\\memtest.efi\n";
}

const std::string UefiObjects =
    ExpectedObjects("partition GUID 5A3C28E0-59C4-4D2B-9F1F-1B2C3D4E5F60",
                    "partition GUID 7D0C5E1A-8B2F-4C3D-A1E2-F3A4B5C6D7E8",
                    "\\EFI\\Microsoft\\Boot\\bootmgfw.efi", "winload.efi");
const std::string BiosObjects =
    ExpectedObjects("the partition at byte 1048576 of the disk with signature 1234ABCD",
                    "the partition at byte 105906176 of the disk with signature 1234ABCD",
                    "\\bootmgr", "winload.exe");

struct StoreCase {
    const char* name;
    bool uefi;
    std::function<void(std::vector<uint8_t>&)> damage;
    const char* reason; // "" when the store is read
    bool cleanlySaved;
};

const StoreCase StoreCases[] = {
    {"a UEFI install's store", true, [](std::vector<uint8_t>&) {}, "", true},
    {"a BIOS install's store", false, [](std::vector<uint8_t>&) {}, "", true},
    {"unequal sequence numbers", true,
     [](std::vector<uint8_t>& h) { PutBaseField(h, 8, LoadLe32(h.data() + 4) - 1); }, "", false},
    {"a bad checksum", true, [](std::vector<uint8_t>& h) { h[0x1FC] ^= 1; }, "bad checksum", true},
    {"no signature", true, [](std::vector<uint8_t>& h) { h[0] = 'R'; }, "bad signature", true},
    {"the root cell beyond the hive", true,
     [](std::vector<uint8_t>& h) { PutBaseField(h, 0x24, 0x7FFFFFF8); }, "cell beyond the hive",
     true},
    {"a subkey list naming itself", true, PointSubkeyListAtItself, "bad key", true},
};

class BcdStores : public ::testing::Test {
  protected:
    void SetUp() override {
        if (std::system("hivexsh -h >/dev/null 2>&1") == 32512)
            GTEST_SKIP() << "hivexsh is not installed (package libhivex-bin)";
        dir = MakeTempDir("bcd-store");
    }
    void TearDown() override {
        if (!dir.empty())
            RemoveTree(dir);
    }
    std::string dir;
};

// Every key under Objects and every value of its Description and Elements keys.
void ExpectAsHivexget(Hive& hive, const std::string& path) {
    uint32_t objects = 0;
    ASSERT_TRUE(FindKey(hive, "Objects", &objects));
    std::vector<HiveName> ids, parts, elements;
    ASSERT_TRUE(ListSubkeys(hive, objects, &ids));
    EXPECT_EQ(ids.size(), 4u);
    for (const HiveName& id : ids) {
        ASSERT_TRUE(ListSubkeys(hive, id.cell, &parts));
        for (const HiveName& part : parts) {
            ASSERT_TRUE(ListSubkeys(hive, part.cell, &elements));
            if (SameHiveName(part.name, "Description"))
                elements = {{"", part.cell}};
            for (const HiveName& element : elements) {
                HiveValue value;
                const char* name = element.name.empty() ? "Type" : "Element";
                ASSERT_TRUE(FindValue(hive, element.cell, name, &value));
                const std::string key = "Objects\\" + id.name + "\\" + part.name +
                                        (element.name.empty() ? "" : "\\" + element.name);
                EXPECT_EQ(Listed(value), CommandOutput("hivexget '" + path + "' '" + key + "'"))
                    << key;
            }
        }
    }
}

TEST_F(BcdStores, HiveReaderAgreesWithHivexget) {
    const std::vector<uint8_t> uefi = WriteStore(dir, "uefi", UefiStoreScript());
    const std::vector<uint8_t> bios = WriteStore(dir, "bios", BiosStoreScript());
    ASSERT_FALSE(uefi.empty());
    ASSERT_FALSE(bios.empty());
    for (const StoreCase& c : StoreCases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> bytes = c.uefi ? uefi : bios;
        c.damage(bytes);
        Hive hive;
        const bool opened = OpenHive(hive, bytes);
        uint32_t objects = 0;
        std::vector<HiveName> ids;
        const bool read =
            opened && FindKey(hive, "objects", &objects) && ListSubkeys(hive, objects, &ids);
        EXPECT_EQ(read, *c.reason == 0);
        EXPECT_EQ(hive.reason, c.reason);
        if (!read)
            continue;
        EXPECT_EQ(hive.primarySequence == hive.secondarySequence, c.cleanlySaved);
        EXPECT_TRUE(hive.objects < 200);
        const std::string path = dir + "/copy";
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        ExpectAsHivexget(hive, path);
        BcdStore store;
        ASSERT_TRUE(ReadBcdStore(hive, &store));
        EXPECT_EQ(Decoded(store), c.uefi ? UefiObjects : BiosObjects);
        EXPECT_EQ(store.savedCleanly, c.cleanlySaved);
    }
}

} // namespace
