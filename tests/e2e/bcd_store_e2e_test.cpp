// BCD stores written by hivexsh (by the hive builder where a value needs a db
// record, which hivexsh never writes), put in the ESP of the sample gpt.img by mtools:
// the hive reader against hivexget for every key and value it returns, the
// damage it declines to follow, and each store's entries matched to the
// partitions of the drives examined, through both programs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>

#include "bcd_stores.h"
#include "bootconfig/bcd.h"
#include "disk/byte_order.h"
#include "disk_image.h"
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

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

const std::string Store = "\\EFI\\Microsoft\\Boot\\BCD";
const std::string Problem = "#1 " + Store;
const std::string Missing = "{00000000-0000-4000-8000-000000000001}";
const std::string Gone = "{99999999-9999-4999-8999-999999999999}";
const std::string LoaderId = std::string(WindowsLoaderId);
const std::string WindowsDevice = GptDevice(WindowsPartitionGuid, DiskGuid);
// Partition 2 of windows-bios.img, at sector 5120 of the disk with signature 3B10500D.
constexpr uint64_t BiosWindowsOffset = 5120 * 512;
constexpr uint32_t BiosSignature = 0x3B10500D;

std::string Uefi() {
    return UefiStoreScript();
}

// The UEFI store with the Windows partition's device replaced, in every entry.
std::function<std::string()> WindowsOn(const std::string& device, const char* loader = nullptr) {
    return [=] {
        const std::string s = Replaced(UefiStoreScript(), WindowsDevice, device);
        return loader ? Replaced(s, "winload.efi", loader) : s;
    };
}

void Undamaged(std::vector<uint8_t>&) {}

// Four objects from the hive builder, the first's description of 40000 bytes:
// three segments of a db record.
std::vector<uint8_t> BigDataStore() {
    std::vector<uint8_t> big(40000);
    for (size_t i = 0; i < big.size(); i += 2)
        big[i] = static_cast<uint8_t>('A' + i / 2 % 26);
    HiveKeySpec objects{"Objects", {}, {}};
    for (const char* id : {WindowsLoaderId, ResumeId, "{memdiag}", "{bootmgr}"}) {
        std::vector<uint8_t> text = objects.subkeys.empty() ? big : std::vector<uint8_t>{'W', 0};
        objects.subkeys.push_back({id,
                                   {},
                                   {{"Description", {{"Type", 4, {3, 0, 0x20, 0x10}}}, {}},
                                    {"Elements", {}, {{"12000004", {{"Element", 1, text}}, {}}}}}});
    }
    return HiveBytes({"ROOT", {}, {objects}});
}

// That store with one field of its db record, or of its segment list, replaced.
std::function<void(std::vector<uint8_t>&)> BigData(bool inList, unsigned field, uint32_t value) {
    return [=](std::vector<uint8_t>& h) {
        h = BigDataStore();
        const uint8_t signature[] = {'d', 'b', 3, 0};
        uint8_t* db = std::search(h.data(), h.data() + h.size(), signature, signature + 4);
        if (db == h.data() + h.size())
            return;
        uint8_t* record = inList ? h.data() + 4096 + LoadLe32(db + 4) + 4 : db;
        PutLe(record + field, value, field == 2 ? 2 : 4);
    };
}

struct StoreCase {
    const char* name;
    std::function<std::string()> script; // hivexsh's commands
    std::function<void(std::vector<uint8_t>&)> damage;
    const char* otherDrive;     // a sample run as disk 1, or ""
    const char* reason;         // the hive reader's: "" when the store is read
    const std::string* objects; // what the BCD layer decodes, when compared
    bool asHivexget;            // every value compared with hivexget's
    std::vector<std::string> bothPasses, detailOnly;
    const char* nowhere = ""; // a text in neither report
};

const std::string ResumeMissing =
    Problem + ": \"Windows Resume Application\" loads \\Windows\\system32\\winresume.efi from "
              "disk 0 #3, where it is missing.\n";

const StoreCase StoreCases[] = {
    {"the store of a UEFI install, matched to the sample's partitions",
     Uefi,
     Undamaged,
     "",
     "",
     &UefiObjects,
     true,
     {ResumeMissing},
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
    {"the store of a BIOS install, left from another disk",
     BiosStoreScript,
     Undamaged,
     "",
     "",
     &BiosObjects,
     true,
     {Problem + ": \"Windows 11\" names the partition at byte 105906176 of the disk with "
                "signature 1234ABCD, which is on no disk examined.\n"},
     {}},
    {"a value of more than 16344 bytes",
     [] {
         const std::string script = UefiStoreScript(), commit = "commit\n";
         return script.substr(0, script.rfind(commit)) +
                "cd \\Objects\\{b2721d73-1db4-4c62-bf78-c548a880142d}\\Elements\nadd 12000030\n"
                "cd 12000030\nsetval 1\nElement\nstring:" +
                std::string(8180, 'B') + "\n" + commit;
     },
     Undamaged,
     "",
     "",
     &UefiObjects,
     true,
     {ResumeMissing},
     {}},
    {"a value in three db segments",
     Uefi,
     [](std::vector<uint8_t>& h) { h = BigDataStore(); },
     "",
     "",
     nullptr,
     true,
     {},
     {},
     "is not a readable registry hive"},
    {"a db segment beyond the hive",
     Uefi,
     BigData(true, 4, 0x7FFFFFF8),
     "",
     "cell beyond the hive",
     nullptr,
     false,
     {Problem +
      " is not a readable registry hive (cell beyond the hive); its entries are not checked.\n"},
     {}},
    {"a db of more segments than its list holds",
     Uefi,
     BigData(false, 2, 4),
     "",
     "bad value",
     nullptr,
     false,
     {Problem + " is not a readable registry hive (bad value); its entries are not checked.\n"},
     {}},
    {"a default naming a missing object",
     [] { return Replaced(UefiStoreScript(), "string:" + LoaderId, "string:" + Missing); },
     Undamaged,
     "",
     "",
     nullptr,
     false,
     {Problem + ": no default entry.\n"},
     {}},
    {"a GPT GUID of no partition",
     WindowsOn(GptDevice(Gone.c_str(), DiskGuid)),
     Undamaged,
     "",
     "",
     nullptr,
     false,
     {Problem + ": \"Windows 11\" names partition GUID 99999999-9999-4999-8999-999999999999, "
                "which is on no disk examined.\n"},
     {"      OS device partition GUID 99999999-9999-4999-8999-999999999999\n"}},
    {"an MBR device whose signature is another disk's",
     WindowsOn(MbrDevice(BiosWindowsOffset, 0)),
     Undamaged,
     "windows-bios.img",
     "",
     nullptr,
     false,
     {Problem + ": \"Windows 11\" names the partition at byte 2621440 of the disk with signature "
                "00000000, which is on no disk examined.\n"},
     {}},
    {"an MBR device one sector off",
     WindowsOn(MbrDevice(BiosWindowsOffset + 512, BiosSignature)),
     Undamaged,
     "windows-bios.img",
     "",
     nullptr,
     false,
     {Problem + ": \"Windows 11\" names the partition at byte 2621952 of the disk with signature "
                "3B10500D, which is on no disk examined.\n"},
     {}},
    // The listing looks up files on the store's own drive only; the problems,
    // checked once every drive is walked, on any.
    {"a loader on another drive",
     WindowsOn(MbrDevice(BiosWindowsOffset, BiosSignature), "winload.exe"),
     Undamaged,
     "windows-bios.img",
     "",
     nullptr,
     false,
     {Problem + ": \"Windows Resume Application\" loads \\Windows\\system32\\winresume.efi from "
                "disk 1 #2, where it is missing.\n"},
     {"      device disk 1 #2\n      path \\Windows\\system32\\winload.exe: not checked\n"},
     "#1 \\EFI\\Microsoft\\Boot\\BCD: \"Windows 11\""},
    {"a loader path missing",
     [] { return Replaced(UefiStoreScript(), "winload.efi", "winload2.efi"); },
     Undamaged,
     "",
     "",
     nullptr,
     false,
     {Problem + ": \"Windows 11\" loads \\Windows\\system32\\winload2.efi from disk 0 #3, where "
                "it is missing.\n"},
     {}},
    {"a WinRE entry on a ramdisk",
     [] {
         return WithObject(UefiStoreScript(), RecoveryId, 0x10200003,
                           {{"11000001", RamdiskDevice(RecoveryPartitionGuid, DiskGuid,
                                                       "\\Recovery\\WindowsRE\\Winre.wim")},
                            {"12000002", "string:\\windows\\system32\\winload.efi"},
                            {"12000004", "string:Windows Recovery Environment"}});
     },
     Undamaged,
     "",
     "",
     nullptr,
     false,
     {Problem + ": \"Windows Recovery Environment\" loads \\Recovery\\WindowsRE\\Winre.wim from "
                "disk 0 #4, where it is missing.\n"},
     {"      device ramdisk [disk 0 #4]\\Recovery\\WindowsRE\\Winre.wim\n"
      "      path \\windows\\system32\\winload.efi: not checked\n"}},
    {"unequal sequence numbers",
     Uefi,
     [](std::vector<uint8_t>& h) { PutBaseField(h, 8, LoadLe32(h.data() + 4) + 1); },
     "",
     "",
     nullptr,
     false,
     {Problem + " was not saved cleanly: Windows will replay its .LOG files at boot.\n"},
     {}},
    {"a bad checksum",
     Uefi,
     [](std::vector<uint8_t>& h) { h[0x1FC] ^= 1; },
     "",
     "bad checksum",
     nullptr,
     false,
     {Problem + " is not a readable registry hive (bad checksum); its entries are not checked.\n"},
     {}},
    {"no signature",
     Uefi,
     [](std::vector<uint8_t>& h) { h[0] = 'R'; },
     "",
     "bad signature",
     nullptr,
     false,
     {Problem + " is not a readable registry hive (bad signature); its entries are not checked.\n"},
     {}},
    {"a cell offset beyond the hive",
     Uefi,
     [](std::vector<uint8_t>& h) { PutBaseField(h, 0x24, 0x7FFFFFF8); },
     "",
     "cell beyond the hive",
     nullptr,
     false,
     {Problem +
      " is not a readable registry hive (cell beyond the hive); its entries are not checked.\n"},
     {}},
    {"a subkey list pointing at itself",
     Uefi,
     PointSubkeyListAtItself,
     "",
     "bad key",
     nullptr,
     false,
     {Problem + " is not a readable registry hive (bad key); its entries are not checked.\n"},
     {}},
};

// The hive reader and the BCD layer on the store's bytes, against hivexget.
void ExpectStoreRead(const StoreCase& c, const std::vector<uint8_t>& bytes,
                     const std::string& copy) {
    Hive hive;
    BcdStore store;
    const bool read = OpenHive(hive, bytes) && ReadBcdStore(hive, &store);
    EXPECT_EQ(read, *c.reason == 0);
    EXPECT_EQ(hive.reason, c.reason);
    if (!read)
        return;
    EXPECT_TRUE(hive.objects < 200);
    if (c.objects) {
        EXPECT_EQ(Decoded(store), *c.objects);
    }
    if (c.asHivexget)
        ExpectAsHivexget(hive, copy);
}

class BcdStoreRun : public ProgramTest {};

TEST_P(BcdStoreRun, StoresInTheSampleEspMatchedToThePartitionsExamined) {
    if (std::system("hivexsh -h >/dev/null 2>&1") == 32512)
        GTEST_SKIP() << "hivexsh is not installed (package libhivex-bin)";
    for (const StoreCase& c : StoreCases) {
        SCOPED_TRACE(c.name);
        const std::string image = PutSample("gpt.img");
        if (image.empty())
            return;
        std::vector<uint8_t> store = WriteStore(dir_, "store", c.script());
        ASSERT_FALSE(store.empty());
        c.damage(store);
        const std::string file = Path("BCD");
        std::ofstream(file, std::ios::binary)
            .write(reinterpret_cast<const char*>(store.data()), store.size());
        if (!windows())
            ExpectStoreRead(c, store, file);
        ASSERT_EQ(
            std::system(("MTOOLS_SKIP_CHECK=1 mcopy -o -i '" + image + "@@" +
                         std::to_string(2048 * 512) + "' '" + file + "' ::/EFI/Microsoft/Boot/BCD")
                            .c_str()),
            0);
        std::vector<std::string> drives = {image};
        if (*c.otherDrive)
            drives.push_back(PutSample(c.otherDrive));
        const std::string reports = Path("reports");
        std::filesystem::create_directory(reports); // none left from the case before
        Outcome run = Run(Drives(drives, reports));
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
        if (*c.nowhere) {
            EXPECT_EQ(CountOf(summary + detail, c.nowhere), 0) << summary;
        }
        for (const std::string& drive : drives)
            RemoveTree(drive);
        RemoveTree(reports);
    }
}

INSTANTIATE_FOR_BOTH_PROGRAMS(BcdStoreRun);

} // namespace
