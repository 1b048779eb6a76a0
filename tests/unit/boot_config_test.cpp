// The configuration parsers on their own: GRUB script, grubenv, systemd-boot's
// loader.conf and entries, fstab. Text in, what each parser makes of it out.
#include <gtest/gtest.h>

#include <string>

#include "bootconfig/grub_script.h"
#include "bootconfig/linux_config.h"

namespace {

std::string RootOf(const GrubRoot& root) {
    switch (root.kind) {
    case GrubRootKind::Own: return "own";
    case GrubRootKind::Search: return "search" + std::to_string(root.search);
    case GrubRootKind::Device: return "(" + root.device + ")";
    }
    return "";
}

std::string PathOf(const GrubPath& path) {
    return RootOf(path.root) + path.path;
}

const char* const SearchNames[] = {"uuid", "label", "file"};

// One line per thing read: searches, prefix, configfiles, the default entry.
std::string Described(const GrubConfig& g) {
    std::string text;
    for (const GrubSearch& s : g.searches)
        text += std::string("search ") + SearchNames[static_cast<int>(s.by)] + " " + s.value +
                (s.setsRoot ? " root" : "") + "\n";
    if (!g.prefix.path.empty() || g.prefix.root.kind != GrubRootKind::Own)
        text += "prefix " + PathOf(g.prefix) + "\n";
    for (const GrubPath& p : g.configFiles)
        text += "configfile " + PathOf(p) + "\n";
    text += "items " + std::to_string(g.items.size()) + (g.truncated ? " truncated" : "") + "\n";
    if (const GrubEntry* e = DefaultGrubEntry(g)) {
        text += "default \"" + e->title + "\" id " + e->id + " linux " + PathOf(e->kernel) +
                " root=" + e->rootArgument + "\n";
        for (const GrubPath& p : e->initrds)
            text += "initrd " + PathOf(p) + "\n";
    }
    return text;
}

const std::string DebianEntries =
    "function gfxmode {\n"
    "\tset gfxpayload=\"${1}\"\n"
    "\tmenuentry 'inside a function' { linux /no }\n"
    "}\n"
    "menuentry 'Debian GNU/Linux' --class debian --class gnu-linux --class os "
    "$menuentry_id_option 'gnulinux-simple-0b5f' {\n"
    "\tload_video\n"
    "\tinsmod part_gpt\n"
    "\tset root='hd0,gpt2'\n"
    "\tif [ x$feature_platform_search_hint = xy ]; then\n"
    "\t  search --no-floppy --fs-uuid --set=root --hint-bios=hd0,gpt2 "
    "--hint-efi=hd0,gpt2 0b5f-aa\n"
    "\telse\n"
    "\t  search --no-floppy --fs-uuid --set=root 0b5f-aa\n"
    "\tfi\n"
    "\techo\t'Loading Linux 6.1.0-13-amd64 ...'\n"
    "\tlinux\t/vmlinuz-6.1.0-13-amd64 root=UUID=77aa ro  quiet\n"
    "\tinitrd\t/initrd.img-6.1.0-13-amd64\n"
    "}\n"
    "submenu 'Advanced options for Debian GNU/Linux' $menuentry_id_option "
    "'gnulinux-advanced-0b5f' {\n"
    "\tmenuentry 'Debian GNU/Linux, with Linux 6.1.0-12-amd64' --id 'gnulinux-6.1.0-12' {\n"
    "\t\tlinux\t(hd0,gpt3)/vmlinuz-6.1.0-12-amd64 root=PARTUUID=c0ffee ro single\n"
    "\t\tinitrd\t/intel-ucode.img /initrd.img-6.1.0-12-amd64\n"
    "\t}\n"
    "\tmenuentry 'Debian GNU/Linux, with Linux 6.1.0-11-amd64' --id 'gnulinux-6.1.0-11' {\n"
    "\t\tlinux\t/vmlinuz-6.1.0-11-amd64 root=/dev/mapper/debian--vg-root\n"
    "\t}\n"
    "}\n";

struct GrubCase {
    const char* name;
    std::string text;
    std::string savedEntry;
    std::string expected;
};

const GrubCase GrubCases[] = {
    {"the stub that Debian installs on the ESP",
     "search.fs_uuid 5678-9ABC root hd0,gpt2 \nset prefix=($root)'/boot/grub'\n"
     "configfile $prefix/grub.cfg\n",
     "",
     "search uuid 5678-9ABC root\nprefix search0/boot/grub\nconfigfile search0/boot/grub/grub.cfg\n"
     "items 0\n"},
    {"Ubuntu's stub: search --label and a device root",
     "search --label UBUNTU --set\nset root=(hd1,msdos5)\nconfigfile /grub/grub.cfg\n", "",
     "search label UBUNTU root\nconfigfile (hd1,msdos5)/grub/grub.cfg\nitems 0\n"},
    {"a Debian grub.cfg: no default set takes the first entry", DebianEntries, "",
     "search uuid 0b5f-aa root\nsearch uuid 0b5f-aa root\nitems 2\ndefault \"Debian GNU/Linux\" "
     "id gnulinux-simple-0b5f linux search1/vmlinuz-6.1.0-13-amd64 root=UUID=77aa\n"
     "initrd search1/initrd.img-6.1.0-13-amd64\n"},
    {"a default by submenu path of numbers", "set default=\"1>0\"\n" + DebianEntries, "",
     "search uuid 0b5f-aa root\nsearch uuid 0b5f-aa root\nitems 2\ndefault \"Debian GNU/Linux, "
     "with Linux 6.1.0-12-amd64\" id gnulinux-6.1.0-12 linux (hd0,gpt3)/vmlinuz-6.1.0-12-amd64 "
     "root=PARTUUID=c0ffee\ninitrd own/intel-ucode.img\ninitrd own/initrd.img-6.1.0-12-amd64\n"},
    {"saved_entry by ids through grubenv, after Debian's next_entry test",
     "if [ \"${next_entry}\" ] ; then\n   set default=\"${next_entry}\"\nelse\n"
     "   set default=\"${saved_entry}\"\nfi\n" +
         DebianEntries,
     "gnulinux-advanced-0b5f>gnulinux-6.1.0-11",
     "search uuid 0b5f-aa root\nsearch uuid 0b5f-aa root\nitems 2\ndefault \"Debian GNU/Linux, "
     "with Linux 6.1.0-11-amd64\" id gnulinux-6.1.0-11 linux own/vmlinuz-6.1.0-11-amd64 "
     "root=/dev/mapper/debian--vg-root\n"},
    {"a default by title; a title naming nothing falls back to the first",
     "set default='Debian GNU/Linux'\n" + DebianEntries, "",
     "search uuid 0b5f-aa root\nsearch uuid 0b5f-aa root\nitems 2\ndefault \"Debian GNU/Linux\" "
     "id gnulinux-simple-0b5f linux search1/vmlinuz-6.1.0-13-amd64 root=UUID=77aa\n"
     "initrd search1/initrd.img-6.1.0-13-amd64\n"},
    {"quotes, escapes, continued lines and comments",
     "# set default=3\nmenuentry \"a \\\"quoted\\\" title\" {\n  linux /vm\\\nlinuz 'root=LABEL=my "
     "root' # root=UUID=no\n  initrd \"/init\"rd.img; initrd /two\n}\n",
     "",
     "items 1\ndefault \"a \"quoted\" title\" id  linux own/vmlinuz root=LABEL=my root\n"
     "initrd own/initrd.img\ninitrd own/two\n"},
    {"hostile: unclosed quotes and braces, a lone }, a nested submenu skipped",
     "}\n}\nsubmenu a {\n submenu b {\n  menuentry c { linux /c }\n }\n menuentry d {\n"
     "  linux '/d\n",
     "", "items 1\ndefault \"d\" id  linux own/d\n root=\n"},
    {"hostile: ten thousand nested blocks and a menuentry past them",
     [] {
         std::string text;
         for (int i = 0; i < 10000; ++i)
             text += "if x {\n";
         for (int i = 0; i < 20000; ++i)
             text += "}\n";
         return text + "menuentry last { linux /last }\n";
     }(),
     "", "items 1\ndefault \"last\" id  linux own/last root=\n"},
    {"hostile: more menu entries than are read",
     [] {
         std::string text;
         for (int i = 0; i < 1100; ++i)
             text += "menuentry e" + std::to_string(i) + " { linux /k }\n";
         return text;
     }(),
     "", "items 1024 truncated\ndefault \"e0\" id  linux own/k root=\n"},
};

TEST(GrubScript, ReadsWhatGrubWouldStart) {
    for (const GrubCase& c : GrubCases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Described(ParseGrubConfig(c.text, c.savedEntry)), c.expected);
    }
}

TEST(GrubScript, SavedEntryFromTheEnvironmentBlock) {
    std::string block = "# GRUB Environment Block\nsaved_entry=Debian\\\\x\nnext_entry=\n";
    block.resize(GrubEnvBytes, '#');
    EXPECT_EQ(GrubEnvSavedEntry(block), "Debian\\x");
    EXPECT_EQ(GrubEnvSavedEntry("saved_entry=x\n"), "");
}

std::string Described(const LoaderEntry& e) {
    std::string text = e.file + " \"" + e.title + "\" linux " + e.linux + " efi " + e.efi;
    for (const std::string& i : e.initrds)
        text += " initrd " + i;
    return text + " root=" + e.rootArgument;
}

TEST(LoaderEntries, DefaultByGlobElseTheHighestName) {
    const LoaderConf conf = ParseLoaderConf("# a comment\ndefault  arch-*  \ntimeout 3\n");
    EXPECT_EQ(conf.defaultPattern, "arch-*");
    EXPECT_EQ(conf.timeout, "3");
    std::vector<LoaderEntry> entries = {
        ParseLoaderEntry("debian.conf", "title Debian\nlinux /vmlinuz\ninitrd /ucode.img\n"
                                        "initrd /initrd.img\noptions ro\noptions root=UUID=77aa "
                                        "quiet\n"),
        ParseLoaderEntry("arch-lts.conf", "title   Arch LTS\nefi /EFI/arch/lts.efi\n"),
        ParseLoaderEntry("arch-zen.conf", "\n"),
    };
    EXPECT_EQ(Described(*DefaultLoaderEntry(conf, entries)),
              "arch-zen.conf \"\" linux  efi  root=");
    EXPECT_EQ(Described(entries[2]),
              "arch-lts.conf \"Arch LTS\" linux  efi /EFI/arch/lts.efi root=");
    EXPECT_EQ(Described(*DefaultLoaderEntry(ParseLoaderConf("default DEBIAN"), entries)),
              "debian.conf \"Debian\" linux /vmlinuz efi  initrd /ucode.img initrd /initrd.img "
              "root=UUID=77aa");
    EXPECT_EQ(DefaultLoaderEntry(ParseLoaderConf("default none"), entries), &entries[0]);
    std::vector<LoaderEntry> none;
    EXPECT_EQ(DefaultLoaderEntry(conf, none), nullptr);
    EXPECT_TRUE(MatchesGlob("*a*b?c*", "xxaYYbZc"));
    EXPECT_FALSE(MatchesGlob(std::string(60, '*') + "b", std::string(4000, 'a')));
}

TEST(Fstab, SourcesAndWhetherTheBootWaits) {
    const std::vector<FstabEntry> entries =
        ParseFstab("# <file system> <mount point> <type> <options> <dump> <pass>\n"
                   "UUID=77aa / ext4 errors=remount-ro 0 1\n"
                   "PARTUUID=\"c0ffee-02\" /boot/efi vfat umask=0077 0 1\n"
                   "LABEL=My\\040Data /srv/my\\040data ext4 defaults,nofail 0 2\n"
                   "/dev/mapper/debian--vg-swap_1 none swap sw 0 0\n"
                   "tmpfs /tmp tmpfs noauto\n"
                   "lonely\n");
    ASSERT_EQ(entries.size(), 5u);
    EXPECT_EQ(entries[0].source.by, VolumeNameBy::Uuid);
    EXPECT_EQ(entries[0].source.value, "77aa");
    EXPECT_FALSE(entries[0].mayFail);
    EXPECT_EQ(entries[1].source.by, VolumeNameBy::PartUuid);
    EXPECT_EQ(entries[1].source.value, "c0ffee-02");
    EXPECT_EQ(entries[2].source.value, "My Data");
    EXPECT_EQ(entries[2].mountPoint, "/srv/my data");
    EXPECT_TRUE(entries[2].mayFail);
    EXPECT_EQ(entries[3].source.by, VolumeNameBy::Device);
    EXPECT_EQ(entries[4].source.by, VolumeNameBy::Other);
    EXPECT_TRUE(entries[4].mayFail);
}

} // namespace
