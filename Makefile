# Bootsieve: build, test and demo on Debian. Every target installs what it needs.

PACKAGES := build-essential cmake ninja-build googletest libgtest-dev libbenchmark-dev \
            clang libclang-rt-14-dev g++-mingw-w64-x86-64-posix wine wine64 \
            fdisk gdisk dosfstools ntfs-3g exfatprogs mtools util-linux mount groff-base \
            grub-pc-bin grub-common syslinux-common mbr wimtools sleuthkit libhivex-bin \
            git binutils-mingw-w64-x86-64 zip unzip dpkg-dev \
            e2fsprogs xfsprogs btrfs-progs f2fs-tools cryptsetup-bin lvm2 xorriso
JOBS     := $(shell nproc)
WINE_EXE := $(CURDIR)/build-win/bootsieve.exe

.PHONY: all deps build native windows check release fuzz-build fuzz bench demo format clean

all: build

deps:
	@missing=$$(for p in $(PACKAGES); do dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null \
	    | grep -q 'install ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	    echo "Installing:" $$missing; \
	    if [ "$$(id -u)" -ne 0 ]; then echo "run as root to install packages" >&2; exit 1; fi; \
	    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing; \
	fi

windows: deps
	cmake -S . -B build-win -G Ninja -DCMAKE_BUILD_TYPE=Release \
	    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
	cmake --build build-win -j $(JOBS)

native: deps windows
	cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Debug -DBOOTSIEVE_SANITIZE=ON \
	    -DBOOTSIEVE_WINDOWS_EXE=$(WINE_EXE)
	cmake --build build -j $(JOBS)

build: native windows

fuzz-build: deps
	CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DBOOTSIEVE_TESTS=OFF -DBOOTSIEVE_FUZZ=ON
	cmake --build build-fuzz -j $(JOBS)

# The fuzzer runs first, then the release archives are checked (and built once more, to be
# compared), then the unit tests of the Windows build under Wine, so that the native test
# summary closes the output.
check: build fuzz-build release
	$(MAKE) --no-print-directory fuzz FUZZ_SECONDS=60
	sh tests/with-wineserver.sh $(CURDIR)/build-win/wineprefix sh -c \
	    'sh tests/system/release_test.sh release . $(CURDIR)/build-win/wineprefix && \
	     cd build-win && ctest -j $(JOBS) --output-on-failure && \
	     cd ../build && ctest -j $(JOBS) --output-on-failure'

# Runs the fuzzer until stopped (or for FUZZ_SECONDS), on a copy of the seeds.
# The sample images of tests/images join the seeds when they can be made.
FUZZ_SECONDS ?= 0
# An ext4 root file system of mke2fs -d, in a type 83 partition at sector 2048, is one more.
EXT_SEED := build-fuzz/ext4-seed
fuzz: fuzz-build
	rm -rf build-fuzz/corpus build-fuzz/images $(EXT_SEED) && mkdir -p build-fuzz/corpus
	mkdir -p $(EXT_SEED)/tree/boot/grub/i386-pc $(EXT_SEED)/tree/etc && \
	    printf 'set default=0\nmenuentry Debian {\n\tlinux /boot/vmlinuz-6.1 root=LABEL=root\n}\n' \
	        > $(EXT_SEED)/tree/boot/grub/grub.cfg && \
	    printf 'LABEL=root / ext4 defaults 0 1\n' > $(EXT_SEED)/tree/etc/fstab && \
	    head -c 20000 /dev/zero | tr '\0' K > $(EXT_SEED)/tree/boot/vmlinuz-6.1 && \
	    head -c 3000 /dev/zero | tr '\0' M > $(EXT_SEED)/tree/boot/grub/i386-pc/normal.mod && \
	    ln -s boot/vmlinuz-6.1 $(EXT_SEED)/tree/vmlinuz && \
	    truncate -s 4M $(EXT_SEED)/linux.img && echo '2048,,83' | sfdisk -q $(EXT_SEED)/linux.img && \
	    mke2fs -q -F -t ext4 -O ^has_journal -E offset=1048576 -d $(EXT_SEED)/tree \
	        $(EXT_SEED)/linux.img 3M
	if [ -f tests/images/make_images.sh ] && \
	    bash tests/images/make_images.sh build-fuzz/images >/dev/null 2>&1; then \
	    build-fuzz/tests/fuzz/bootsieve_fuzz_seeds build-fuzz/corpus build-fuzz/images/*.img \
	        $(EXT_SEED)/linux.img; \
	else \
	    build-fuzz/tests/fuzz/bootsieve_fuzz_seeds build-fuzz/corpus $(EXT_SEED)/linux.img; \
	fi
	build-fuzz/tests/fuzz/bootsieve_fuzz -max_total_time=$(FUZZ_SECONDS) -max_len=1048576 \
	    -timeout=30 -rss_limit_mb=4096 -artifact_prefix=build-fuzz/ build-fuzz/corpus

# The archives to download, from the commit at HEAD: the Windows zip, the Debian package
# and SHA256SUMS, into release/.
release: deps
	sh tools/release.sh $(CURDIR)/release

bench: deps
	cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DBOOTSIEVE_TESTS=OFF \
	    -DBOOTSIEVE_BENCH=ON
	cmake --build build-bench -j $(JOBS)
	build-bench/bench/bootsieve_bench
	rm -rf build-bench/images && mkdir -p build-bench/images
	build-bench/bench/bootsieve_bench --write-images build-bench/images
	build-bench/bench/versus_fdisk build-bench/bootsieve build-bench/images

demo: deps
	cmake -S . -B build-demo -G Ninja -DCMAKE_BUILD_TYPE=Release -DBOOTSIEVE_TESTS=OFF
	cmake --build build-demo -j $(JOBS)
	tests/images/demo.sh build-demo/bootsieve demo

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf build build-win build-fuzz build-bench build-demo demo release
