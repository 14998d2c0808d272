#include "sim/file_store.h"

#include <algorithm>

#include "sim/file_checksums.h"

namespace kel::sim {

FileStore::FileStore() {
  AddDrive(1);
  AddDrive(177);
  AddDrive(193);
}

bool FileStore::HasDrive(uint8_t drive) const { return drives_.count(drive) != 0; }

void FileStore::AddDrive(uint8_t drive) { drives_[drive]; }

const SimFile* FileStore::Find(uint8_t drive, uint16_t file) const {
  const auto d = drives_.find(drive);
  if (d == drives_.end()) return nullptr;
  const auto f = d->second.find(file);
  return f == d->second.end() ? nullptr : &f->second;
}

SimFile* FileStore::Find(uint8_t drive, uint16_t file) {
  return const_cast<SimFile*>(static_cast<const FileStore*>(this)->Find(drive, file));
}

bool FileStore::Put(uint8_t drive, uint16_t file, std::vector<uint8_t> data) {
  const auto d = drives_.find(drive);
  if (d == drives_.end() || data.size() > kMaxFileSize) return false;
  d->second[file] = SimFile{std::move(data), {}};
  return true;
}

bool FileStore::Create(uint8_t drive, uint16_t file) { return Put(drive, file, {}); }

bool FileStore::Remove(uint8_t drive, uint16_t file) {
  const auto d = drives_.find(drive);
  return d != drives_.end() && d->second.erase(file) != 0;
}

void FileStore::EraseDrive(uint8_t drive) {
  const auto d = drives_.find(drive);
  if (d != drives_.end()) d->second.clear();
}

bool FileStore::WriteAt(uint8_t drive, uint16_t file, uint32_t offset, const uint8_t* data, size_t count) {
  SimFile* f = Find(drive, file);
  if (f == nullptr) return false;
  const uint64_t end = uint64_t{offset} + count;
  if (end > kMaxFileSize) return false;
  if (f->data.size() < end) f->data.resize(static_cast<size_t>(end), 0);
  std::copy_n(data, count, f->data.begin() + offset);
  return true;
}

std::vector<uint8_t> FileStore::ReadAt(uint8_t drive, uint16_t file, uint32_t offset, size_t count) const {
  const SimFile* f = Find(drive, file);
  if (f == nullptr || offset >= f->data.size()) return {};
  const size_t take = std::min(count, f->data.size() - offset);
  return std::vector<uint8_t>(f->data.begin() + offset, f->data.begin() + offset + static_cast<std::ptrdiff_t>(take));
}

bool FileStore::SetProperties(uint8_t drive, uint16_t file, std::vector<uint8_t> properties) {
  SimFile* f = Find(drive, file);
  if (f == nullptr) return false;
  f->properties = std::move(properties);
  return true;
}

bool FileStore::Attributes(uint8_t drive, uint16_t file, SimFileAttributes& out) const {
  const SimFile* f = Find(drive, file);
  if (f == nullptr) return false;
  const FileChecksums sums = ComputeFileChecksums(f->data.data(), f->data.size());
  out.size = static_cast<uint32_t>(f->data.size());
  out.checksum1 = sums.checksum1;
  out.checksum2 = sums.checksum2;
  out.checksum3 = sums.checksum3;
  out.checksum4 = sums.checksum4;
  out.properties = f->properties;
  return true;
}

const std::map<uint16_t, SimFile>& FileStore::Files(uint8_t drive) const {
  static const std::map<uint16_t, SimFile> kNone;
  const auto d = drives_.find(drive);
  return d == drives_.end() ? kNone : d->second;
}

}  // namespace kel::sim
