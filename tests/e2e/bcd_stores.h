// BCD stores written by hivexsh into a minimal hive, as Windows' setup leaves
// them on a UEFI install and a BIOS install, and damaged copies of them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// A hive with a root key and its security cell alone, for hivexsh to fill.
std::vector<uint8_t> MinimalHive();

// The commands that hivexsh -w runs to fill a store.
std::string UefiStoreScript();
std::string BiosStoreScript();

// The store the script writes, made in dir; empty when hivexsh fails or is missing.
std::vector<uint8_t> WriteStore(const std::string& dir, const std::string& name,
                                const std::string& script);

// A value as `hivexget` prints it: a string or number with its line end, other
// data as its bytes; "" when the key or value is not there.
std::string HivexGet(const std::string& hive, const std::string& key, const std::string& value);

// Damage on a copy: a base block field changed with the checksum made right again.
void PutBaseField(std::vector<uint8_t>& hive, unsigned offset, uint32_t value);
// The first entry of the root key's subkey list made to name the list itself.
void PointSubkeyListAtItself(std::vector<uint8_t>& hive);

// Values of the store's devices, written as hivexsh's hex:3: data.
std::string GptDevice(const char* partitionGuid, const char* diskGuid);
std::string MbrDevice(uint64_t offset, uint32_t signature);
std::string BootDevice();
// A ramdisk whose image is file on the GPT partition given.
std::string RamdiskDevice(const char* partitionGuid, const char* diskGuid, const char* file);

// The script with one more object of the type and elements given, before its commit.
std::string WithObject(const std::string& script, const std::string& id, uint32_t type,
                       const std::vector<std::pair<const char*, std::string>>& elements);

// The objects of the stores above; the GUIDs are those of the sample gpt.img.
extern const char* const WindowsLoaderId;
extern const char* const ResumeId;
extern const char* const RecoveryId;
extern const char* const EspPartitionGuid;
extern const char* const WindowsPartitionGuid;
extern const char* const RecoveryPartitionGuid;
extern const char* const DiskGuid;
