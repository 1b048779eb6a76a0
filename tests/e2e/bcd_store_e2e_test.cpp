// BCD stores written by hivexsh: the hive reader against hivexget for every key
// and value it returns, and the damage it declines to follow.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>

#include "bcd_stores.h"
#include "bootconfig/bcd.h"
#include "disk/byte_order.h"
#include "e2e_fixture.h"
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
    ExpectedObjects("partition GUID 11111111-1111-4111-8111-111111111111",
                    "partition GUID 33333333-3333-4333-8333-333333333333",
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

namespace {

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

const std::string Store = "\\EFI\\Microsoft\\Boot\\BCD";
const std::string Problem = "#1 " + Store;
const std::string Missing = "{00000000-0000-4000-8000-000000000001}";
const std::string Gone = "{99999999-9999-4999-8999-999999999999}";

struct RunCase {
    const char* name;
    std::function<std::string(const std::string&)> script;
    std::function<void(std::vector<uint8_t>&)> damage;
    std::vector<std::string> bothPasses;
    std::vector<std::string> detailOnly;
};

std::string Same(const std::string& script) {
    return script;
}

void Undamaged(std::vector<uint8_t>&) {}

const std::string LoaderId = std::string(WindowsLoaderId);

const RunCase RunCases[] = {
    {"the store of a UEFI install, matched to the sample's partitions",
     Same,
     Undamaged,
     {Problem + ": \"Windows Resume Application\" loads \\Windows\\system32\\winresume.efi from "
                "disk 0 #3, where it is missing.\n"},
     {">> Disk 0 #1 \\EFI\\Microsoft\\Boot\\BCD:\n"
      "   {bootmgr} Windows boot manager\n"
      "      description Windows Boot Manager\n"
      "      device disk 0 #1\n"
      "      path \\EFI\\Microsoft\\Boot\\bootmgfw.efi: 2100 bytes\n"
      "      default " +
          LoaderId + "\n      display order " + LoaderId +
          "\n"
          "      timeout 30\n"
          "   " +
          LoaderId +
          " Windows boot loader\n"
          "      description Windows 11\n"
          "      device disk 0 #3\n"
          "      path \\Windows\\system32\\winload.efi: 3300 bytes\n"
          "      OS device disk 0 #3\n"
          "      system root \\Windows: directory\n",
      "   {memdiag} Windows memory tester\n"
      "      description Windows Memory Diagnostic\n"
      "      device boot\n"
      "      path \\EFI\\Microsoft\\Boot\\memtest.efi: 1700 bytes\n"}},
    {"a default naming a missing object",
     [](const std::string& s) { return Replaced(s, "string:" + LoaderId, "string:" + Missing); },
     Undamaged,
     {Problem + ": no default entry.\n"},
     {}},
    {"a GPT GUID of no partition",
     [](const std::string& s) {
         return Replaced(s, GptDevice(WindowsPartitionGuid, DiskGuid),
                         GptDevice(Gone.c_str(), DiskGuid));
     },
     Undamaged,
     {Problem + ": \"Windows 11\" names partition GUID 99999999-9999-4999-8999-999999999999, "
                "which is on no disk examined.\n"},
     {"      OS device partition GUID 99999999-9999-4999-8999-999999999999\n"}},
    {"a loader path missing",
     [](const std::string& s) { return Replaced(s, "winload.efi", "winload2.efi"); },
     Undamaged,
     {Problem + ": \"Windows 11\" loads \\Windows\\system32\\winload2.efi from disk 0 #3, where "
                "it is missing.\n"},
     {}},
    {"unequal sequence numbers",
     Same,
     [](std::vector<uint8_t>& h) { PutBaseField(h, 8, LoadLe32(h.data() + 4) + 1); },
     {Problem + " was not saved cleanly: Windows will replay its .LOG files at boot.\n"},
     {}},
    {"a bad checksum",
     Same,
     [](std::vector<uint8_t>& h) { h[0x1FC] ^= 1; },
     {Problem + " is not a readable registry hive (bad checksum); its entries are not checked.\n"},
     {}},
    {"a cell offset beyond the hive",
     Same,
     [](std::vector<uint8_t>& h) { PutBaseField(h, 0x24, 0x7FFFFFF8); },
     {Problem +
      " is not a readable registry hive (cell beyond the hive); its entries are not checked.\n"},
     {}},
    {"a subkey list pointing at itself",
     Same,
     PointSubkeyListAtItself,
     {Problem + " is not a readable registry hive (bad key); its entries are not checked.\n"},
     {}},
};

class BcdStoreRun : public ProgramTest {};

TEST_P(BcdStoreRun, StoresInTheSampleEspMatchedToItsPartitions) {
    if (std::system("hivexsh -h >/dev/null 2>&1") == 32512)
        GTEST_SKIP() << "hivexsh is not installed (package libhivex-bin)";
    for (const RunCase& c : RunCases) {
        SCOPED_TRACE(c.name);
        const std::string image = PutSample("gpt.img");
        if (image.empty())
            return;
        std::vector<uint8_t> store = WriteStore(dir_, "store", c.script(UefiStoreScript()));
        ASSERT_FALSE(store.empty());
        c.damage(store);
        const std::string file = Path("BCD");
        std::ofstream(file, std::ios::binary)
            .write(reinterpret_cast<const char*>(store.data()), store.size());
        ASSERT_EQ(
            std::system(("MTOOLS_SKIP_CHECK=1 mcopy -o -i '" + image + "@@" +
                         std::to_string(2048 * 512) + "' '" + file + "' ::/EFI/Microsoft/Boot/BCD")
                            .c_str()),
            0);
        Outcome run = Run(Drives({image}));
        const std::string summary = run.Report("Bootsieve.txt"),
                          detail = run.Report("BPB0list.txt");
        for (const std::string& line : c.bothPasses) {
            EXPECT_EQ(CountOf(summary, line), 1) << summary;
            EXPECT_EQ(CountOf(detail, line), 1) << detail;
        }
        for (const std::string& line : c.detailOnly) {
            EXPECT_EQ(CountOf(detail, line), 1) << line << "\n----\n" << detail;
            EXPECT_EQ(CountOf(summary, line), 0) << line;
        }
        RemoveTree(image);
    }
}

INSTANTIATE_FOR_BOTH_PROGRAMS(BcdStoreRun);

} // namespace
