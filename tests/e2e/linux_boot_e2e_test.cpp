// Linux's boot loaders through both programs, on a GPT disk that the real tools
// made: an ESP (mkfs.fat, mtools) with the stub grub.cfg that Debian installs,
// shim and GRUB, systemd-boot's loader.conf and entry, a unified kernel image;
// an XBOOTLDR /boot with grub.cfg, a grubenv written by grub-editenv, kernels and
// initrds; an ext4 root volume (mke2fs -d) with /etc/fstab. Then damage made on the tree before
// each copy is made: a kernel removed, an initrd misnamed, a search, a root= and
// an fstab UUID of no volume, the root's UUID changed by tune2fs. The firmware's entries name shim
// and systemd-boot. No image changes.
#include "e2e_fixture.h"
#include "firmware_tree.h"

namespace {

// The tree of each volume, then the image. $1 is the directory; its damage.sh
// runs on the trees before the volumes are made, and its function after, when
// it defines one, on the image.
const char* const MakeDisk = R"(set -e
cd "$1"
rm -rf esp boot root disk.img
mkdir -p esp/EFI/debian esp/EFI/systemd esp/EFI/Linux esp/loader/entries
mkdir -p boot/grub/i386-pc root/etc
printf 'shim%.0s' $(seq 100) > esp/EFI/debian/shimx64.efi
printf 'grub%.0s' $(seq 200) > esp/EFI/debian/grubx64.efi
printf "search.fs_uuid 5678-ABCD root hd0,gpt2 \nset prefix=(\$root)'/grub'\nconfigfile \$prefix/grub.cfg\n" > esp/EFI/debian/grub.cfg
printf 'sdboot' > esp/EFI/systemd/systemd-bootx64.efi
printf 'uki%.0s' $(seq 10) > esp/EFI/Linux/debian-6.1.efi
printf 'default debian*\ntimeout 4\n' > esp/loader/loader.conf
printf 'title Debian (systemd-boot)\nlinux /vmlinuz-6.1\ninitrd /initrd.img-6.1\noptions root=UUID=9abcdef0-0000-4000-8000-000000000003 ro\n' > esp/loader/entries/debian.conf
printf 'kernel' > esp/vmlinuz-6.1
printf 'initrd' > esp/initrd.img-6.1
cat > boot/grub/grub.cfg <<'G'
if [ -s $prefix/grubenv ]; then
  load_env
fi
if [ "${next_entry}" ] ; then
   set default="${next_entry}"
else
   set default="${saved_entry}"
fi
menuentry 'Debian GNU/Linux' --class debian $menuentry_id_option 'gnulinux-simple-x' {
	search --no-floppy --fs-uuid --set=root 5678-ABCD
	linux	/vmlinuz-6.1.0-13-amd64 root=UUID=9abcdef0-0000-4000-8000-000000000003 ro quiet
	initrd	/initrd.img-6.1.0-13-amd64
}
submenu 'Advanced options for Debian GNU/Linux' $menuentry_id_option 'gnulinux-advanced-x' {
	menuentry 'Debian GNU/Linux, with Linux 6.1.0-12-amd64' $menuentry_id_option 'gnulinux-6.1.0-12' {
		search --no-floppy --fs-uuid --set=root 5678-ABCD
		linux	/vmlinuz-6.1.0-12-amd64 root=PARTUUID=33333333-3333-4333-8333-333333333333 ro
		initrd	/intel-ucode.img /initrd.img-6.1.0-12-amd64
	}
}
G
grub-editenv boot/grub/grubenv set 'saved_entry=gnulinux-advanced-x>gnulinux-6.1.0-12'
printf 'mod' > boot/grub/i386-pc/normal.mod
printf 'k13' > boot/vmlinuz-6.1.0-13-amd64
printf 'i13' > boot/initrd.img-6.1.0-13-amd64
printf 'kernel 12' > boot/vmlinuz-6.1.0-12-amd64
printf 'initrd 12' > boot/initrd.img-6.1.0-12-amd64
printf 'ucode' > boot/intel-ucode.img
cat > root/etc/fstab <<'F'
# <file system> <mount point> <type> <options> <dump> <pass>
UUID=9abcdef0-0000-4000-8000-000000000003 / ext4 errors=remount-ro 0 1
UUID=5678-ABCD /boot vfat umask=0077 0 1
PARTUUID=11111111-1111-4111-8111-111111111111 /boot/efi vfat umask=0077 0 1
UUID=0000-0001 /opt ext4 nofail 0 2
F
. ./damage.sh
truncate -s 64M disk.img
sfdisk -q disk.img <<'T'
label: gpt
label-id: 0B5F0000-0000-4000-8000-000000000000
start=2048, size=32768, type=C12A7328-F81F-11D2-BA4B-00A0C93EC93B, uuid=11111111-1111-4111-8111-111111111111
start=34816, size=32768, type=BC13C2FF-59E6-4262-A352-B275FD6F7172, uuid=22222222-2222-4222-8222-222222222222
start=67584, size=32768, type=0FC63DAF-8483-4772-8E79-3D69D8477DE4, uuid=33333333-3333-4333-8333-333333333333
T
mkfs.fat -F 16 -i 1234ABCD -n ESP --offset 2048 disk.img 16384 >/dev/null 2>&1
mkfs.fat -F 16 -i 5678ABCD -n BOOT --offset 34816 disk.img 16384 >/dev/null 2>&1
truncate -s 16M root.part
mke2fs -q -F -t ext4 -U 9abcdef0-0000-4000-8000-000000000003 -L root -E root_owner=0:0 -d root root.part >/dev/null 2>&1
if type on_root >/dev/null 2>&1; then on_root root.part; fi
dd if=root.part of=disk.img bs=512 seek=67584 conv=notrunc status=none
rm -f root.part
export MTOOLS_SKIP_CHECK=1
mcopy -s -i disk.img@@1048576 esp/* ::/
mcopy -s -i disk.img@@17825792 boot/* ::/
if type after >/dev/null 2>&1; then after; fi
)";

const char* const EspGuid = "11111111-1111-4111-8111-111111111111";
const std::string Stub = "#1 \\EFI\\debian\\grub.cfg";
const std::string GrubCfg = "#2 \\grub\\grub.cfg";
const std::string Advanced = "default entry \"Debian GNU/Linux, with Linux 6.1.0-12-amd64\"";

struct LinuxCase {
    const char* name;
    const char* damage; // shell, in the directory of the trees
    std::vector<std::string> bothPasses;
    std::vector<std::string> detailOnly;
    std::vector<std::string> firmware; // lines of the firmware section
};

const LinuxCase Cases[] = {
    {"a Debian install followed to its kernel",
     "",
     {},
     {">> Disk 0 #1 \\EFI\\debian\\grub.cfg:\n"
      "   search UUID=5678-ABCD: disk 0 #2\n"
      "   configfile /grub/grub.cfg on disk 0 #2: 798 bytes\n"
      ">> Disk 0 #1 \\loader\\loader.conf:\n"
      "   default debian*\n"
      "   timeout 4\n"
      "   entry \\loader\\entries\\debian.conf \"Debian (systemd-boot)\" (default)\n"
      "   linux /vmlinuz-6.1 on disk 0 #1: 6 bytes\n"
      "   initrd /initrd.img-6.1 on disk 0 #1: 6 bytes\n"
      "   root=UUID=9abcdef0-0000-4000-8000-000000000003: disk 0 #3\n"
      "   /etc/fstab on disk 0 #3: 285 bytes\n"
      "      UUID=9abcdef0-0000-4000-8000-000000000003 /: disk 0 #3\n"
      "      UUID=5678-ABCD /boot: disk 0 #2\n"
      "      PARTUUID=11111111-1111-4111-8111-111111111111 /boot/efi: disk 0 #1\n"
      "      UUID=0000-0001 /opt: no volume examined\n"
      "   unified kernel image \\EFI\\Linux\\debian-6.1.efi: 30 bytes\n",
      ">> Disk 0 #2 \\grub\\grub.cfg:\n"
      "   grubenv saved_entry \"gnulinux-advanced-x>gnulinux-6.1.0-12\"\n"
      "   default \"gnulinux-advanced-x>gnulinux-6.1.0-12\": \"Debian GNU/Linux, with Linux "
      "6.1.0-12-amd64\"\n"
      "   search UUID=5678-ABCD: disk 0 #2\n"
      "   linux /vmlinuz-6.1.0-12-amd64 on disk 0 #2: 9 bytes\n"
      "   initrd /intel-ucode.img on disk 0 #2: 5 bytes\n"
      "   initrd /initrd.img-6.1.0-12-amd64 on disk 0 #2: 9 bytes\n"
      "   root=PARTUUID=33333333-3333-4333-8333-333333333333: disk 0 #3\n"
      "   /etc/fstab on disk 0 #3: 285 bytes\n"},
     {"Boot0001* debian\n    disk 0 #1 (EFI system partition)\n"
      "    file \\EFI\\debian\\shimx64.efi: 400 bytes\n"
      "    GRUB reads disk 0 #2 \\grub\\grub.cfg; default \"Debian GNU/Linux, with Linux "
      "6.1.0-12-amd64\" loads /vmlinuz-6.1.0-12-amd64 on disk 0 #2: 9 bytes\n",
      "Boot0002* Linux Boot Manager\n    disk 0 #1 (EFI system partition)\n"
      "    file \\EFI\\systemd\\systemd-bootx64.efi: 6 bytes\n"
      "    systemd-boot reads disk 0 #1 \\loader\\loader.conf; default \"Debian (systemd-boot)\" "
      "loads /vmlinuz-6.1 on disk 0 #1: 6 bytes\n",
      "Boot0003* Debian UKI\n    disk 0 #1 (EFI system partition)\n"
      "    file \\EFI\\Linux\\debian-6.1.efi: 30 bytes\n"
      "    unified kernel image: its kernel and command line are inside it.\n"}},
    {"the default entry's kernel removed",
     "rm boot/vmlinuz-6.1.0-12-amd64",
     {GrubCfg + ": " + Advanced +
      " loads /vmlinuz-6.1.0-12-amd64 from disk 0 #2, where it is missing.\n"},
     {"   linux /vmlinuz-6.1.0-12-amd64 on disk 0 #2: missing\n"},
     {"    GRUB reads disk 0 #2 \\grub\\grub.cfg; default \"Debian GNU/Linux, with Linux "
      "6.1.0-12-amd64\" loads /vmlinuz-6.1.0-12-amd64 on disk 0 #2: missing\n"}},
    {"a grub.cfg naming a missing initrd, a systemd-boot entry too",
     "sed -i 's/initrd.img-6.1.0-12/initrd.img-6.1.0-99/' boot/grub/grub.cfg; rm "
     "esp/initrd.img-6.1",
     {GrubCfg + ": " + Advanced +
          " loads /initrd.img-6.1.0-99-amd64 from disk 0 #2, where it is missing.\n",
      "#1 \\loader\\entries\\debian.conf: default entry \"Debian (systemd-boot)\" loads "
      "/initrd.img-6.1 from disk 0 #1, where it is missing.\n"},
     {},
     {}},
    {"the stub's search UUID of no volume",
     "sed -i 's/5678-ABCD/DEAD-BEEF/' esp/EFI/debian/grub.cfg",
     {Stub + ": search for UUID=DEAD-BEEF finds no volume examined.\n"},
     {"   search UUID=DEAD-BEEF: no volume examined\n",
      "   configfile /grub/grub.cfg on no volume examined: not checked\n"},
     {"    file \\EFI\\debian\\shimx64.efi: 400 bytes\n"
      "    GRUB reads disk 0 #1 \\EFI\\debian\\grub.cfg; no default entry.\n"}},
    {"root= and an fstab UUID of no volume",
     "sed -i 's/PARTUUID=3333/PARTUUID=4444/' boot/grub/grub.cfg; "
     "echo 'UUID=0b5f0000-aaaa-4bbb-8ccc-000000000000 /home ext4 defaults 0 2' >> root/etc/fstab; "
     "echo 'LABEL=gone none swap sw,noauto 0 0' >> root/etc/fstab",
     {GrubCfg + ": root=PARTUUID=44443333-3333-4333-8333-333333333333 is no volume examined.\n",
      "#3 /etc/fstab: UUID=0b5f0000-aaaa-4bbb-8ccc-000000000000 is no volume examined; systemd "
      "stops in emergency mode.\n"},
     {"      LABEL=gone none: no volume examined\n"},
     {}},
    {"the root's UUID changed by tune2fs -U after fstab was written",
     "on_root() { tune2fs -U 9abcdef0-0000-4000-8000-0000000000ff \"$1\" >/dev/null 2>&1; }",
     {"#3 /etc/fstab: UUID=9abcdef0-0000-4000-8000-000000000003 is no volume examined; systemd "
      "stops in emergency mode.\n"},
     {},
     {}},
    {"the default entry's root set by GRUB's device name",
     "sed -i \"s/search --no-floppy --fs-uuid --set=root 5678-ABCD/set root='hd0,gpt2'/\" "
     "boot/grub/grub.cfg",
     {},
     {"   linux /vmlinuz-6.1.0-12-amd64 on disk 0 #2: 9 bytes\n"},
     {}},
    {"a grub.cfg past the bounds: the entries before them read",
     "head -c 1100000 /dev/zero | tr '\\0' '{' >> boot/grub/grub.cfg",
     {},
     {"   linux /vmlinuz-6.1.0-12-amd64 on disk 0 #2: 9 bytes\n",
      "   the rest not read: past the bounds of a configuration\n"},
     {}},
    {"GRUB's BIOS boot code on the MBR, normal.mod removed",
     "rm boot/grub/i386-pc/normal.mod; after() { dd if=/usr/lib/grub/i386-pc/boot.img "
     "of=disk.img bs=440 count=1 conv=notrunc 2>/dev/null; }",
     {"#0 GRUB 2 boot code, but no volume examined holds /boot/grub/i386-pc/normal.mod.\n"},
     {},
     {}},
};

class LinuxBootRun : public ProgramTest {};

TEST_P(LinuxBootRun, GrubAndSystemdBootFollowedToTheirFiles) {
    if (std::system("grub-editenv --version >/dev/null 2>&1") != 0 ||
        std::system("mkfs.fat --help >/dev/null 2>&1 && mcopy -V >/dev/null 2>&1") != 0)
        GTEST_SKIP()
            << "grub-editenv, mkfs.fat or mtools missing (grub-common, dosfstools, mtools)";
    const FirmwareTree tree{Path("firmware")};
    tree.PutFile("fw_platform_size", {'6', '4', '\n'});
    tree.Put("BootOrder", Numbers({1, 2, 3}));
    const Bytes esp = GptNode(1, 2048, 32768, EspGuid);
    tree.Put("Boot0001", LoadOptionBytes(1, u"debian",
                                         esp + FileNode(u"\\EFI\\debian\\shimx64.efi") + EndNode));
    tree.Put("Boot0002",
             LoadOptionBytes(1, u"Linux Boot Manager",
                             esp + FileNode(u"\\EFI\\systemd\\systemd-bootx64.efi") + EndNode));
    tree.Put("Boot0003",
             LoadOptionBytes(1, u"Debian UKI",
                             esp + FileNode(u"\\EFI\\Linux\\debian-6.1.efi") + EndNode));
    WriteTextFile(Path("make.sh"), MakeDisk);
    for (const LinuxCase& c : Cases) {
        SCOPED_TRACE(c.name);
        WriteTextFile(Path("damage.sh"), c.damage);
        ASSERT_EQ(std::system(("bash '" + Path("make.sh") + "' '" + dir_ + "'").c_str()), 0);
        RunOptions options = Drives({Path("disk.img")});
        options.firmware = tree.root;
        Outcome run = Run(options);
        const std::string summary = run.Report("Bootsieve.txt"),
                          detail = run.Report("BPB0list.txt");
        for (const std::string& line : c.bothPasses) {
            EXPECT_EQ(CountOf(summary, line), 1) << line << "\n----\n" << summary;
            EXPECT_EQ(CountOf(detail, line), 1) << line << "\n----\n" << detail;
        }
        for (const std::string& line : c.detailOnly)
            EXPECT_EQ(CountOf(detail, line), 1) << line << "\n----\n" << detail;
        for (const std::string& line : c.firmware)
            EXPECT_EQ(CountOf(summary, line), 1) << line << "\n----\n" << summary;
        if (c.bothPasses.empty()) {
            EXPECT_EQ(CountOf(summary, "no volume examined"), 0) << summary;
        }
    }
}

INSTANTIATE_FOR_BOTH_PROGRAMS(LinuxBootRun);

} // namespace
