#include "sim/mtd/simulated_mtd.h"

#include <errno.h>
#include <fcntl.h>
#include <mtd/mtd-user.h>
#include <sys/file.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cstring>

SimulatedStorage::Node& SimulatedStorage::AddMtd(const std::string& path, uint32_t size, uint32_t eraseSize) {
  Node& node = nodes_[path];
  node = Node();
  node.bytes.assign(size, 0xFF);
  node.mtd = true;
  node.eraseSize = eraseSize;
  return node;
}

SimulatedStorage::Node& SimulatedStorage::AddFile(const std::string& path,
                                                  const std::vector<unsigned char>& bytes) {
  Node& node = nodes_[path];
  node = Node();
  node.bytes = bytes;
  return node;
}

SimulatedStorage::Node* SimulatedStorage::Find(const std::string& path) {
  auto it = nodes_.find(path);
  return it == nodes_.end() ? nullptr : &it->second;
}

int SimulatedStorage::Fail(int error) {
  errno = error;
  return -1;
}

void SimulatedStorage::Violation(const std::string& what) { violations_.push_back(what); }

SimulatedStorage::Descriptor* SimulatedStorage::FindDescriptor(int fd) {
  auto it = descriptors_.find(fd);
  if (it == descriptors_.end()) {
    Violation("request on a descriptor that is not open: " + std::to_string(fd));
    return nullptr;
  }
  return &it->second;
}

SimulatedStorage::LockState SimulatedStorage::PathLock(const std::string& path) const {
  LockState strongest = LockState::kNone;
  for (const auto& entry : descriptors_) {
    if (entry.second.path != path) continue;
    if (entry.second.lock == LockState::kExclusive) return LockState::kExclusive;
    if (entry.second.lock == LockState::kShared) strongest = LockState::kShared;
  }
  return strongest;
}

int SimulatedStorage::Open(const char* path, int flags, int /*mode*/) {
  events_.push_back(std::string("open ") + path);
  Node* node = Find(path);
  const bool forWriting = (flags & O_ACCMODE) != O_RDONLY;
  if (node == nullptr) {
    if ((flags & O_CREAT) == 0) return Fail(ENOENT);
    if (!allowCreate) return Fail(EACCES);
    node = &AddFile(path, {});
  }
  if (node->failOpen) return Fail(EIO);
  if (forWriting && !node->writable) return Fail(EACCES);
  if ((flags & O_TRUNC) != 0 && forWriting && !node->mtd) node->bytes.clear();
  Descriptor d;
  d.path = path;
  d.flags = flags;
  descriptors_[nextFd_] = d;
  return nextFd_++;
}

int SimulatedStorage::Close(int fd) {
  events_.push_back("close");
  if (descriptors_.erase(fd) == 0) {
    Violation("close of a descriptor that is not open");
    return Fail(EBADF);
  }
  return 0;
}

int SimulatedStorage::Erase(Descriptor& d, Node& node, void* arg) {
  erase_info_user erase;
  std::memcpy(&erase, arg, sizeof erase);
  events_.push_back("erase " + std::to_string(erase.start) + " " + std::to_string(erase.length));
  if ((d.flags & O_ACCMODE) == O_RDONLY) {
    Violation("MEMERASE through a descriptor opened read-only");
    return Fail(EBADF);
  }
  const uint64_t end = uint64_t{erase.start} + erase.length;
  if (erase.start % node.eraseSize != 0 || erase.length % node.eraseSize != 0 || end > node.bytes.size()) {
    Violation("MEMERASE outside whole erase blocks of the device: " + std::to_string(erase.start) + " " +
              std::to_string(erase.length));
    return Fail(EINVAL);
  }
  if (node.failErase) return Fail(EIO);
  std::fill(node.bytes.begin() + erase.start, node.bytes.begin() + end, 0xFF);
  node.erases.push_back({erase.start, erase.length});
  return 0;
}

int SimulatedStorage::Ioctl(int fd, unsigned long request, void* arg) {
  Descriptor* d = FindDescriptor(fd);
  if (d == nullptr) return Fail(EBADF);
  Node& node = nodes_[d->path];
  if (!node.mtd) return Fail(ENOTTY);  // a plain file knows no MTD requests
  if (arg == nullptr) {
    Violation("MTD request without its record");
    return Fail(EFAULT);
  }
  if (request == MEMGETINFO) {
    events_.push_back("getinfo");
    if (node.failGetInfo) return Fail(EIO);
    mtd_info_user info;
    std::memset(&info, 0, sizeof info);
    info.type = MTD_NANDFLASH;
    info.flags = MTD_CAP_NANDFLASH;
    info.size = static_cast<uint32_t>(node.bytes.size());
    info.erasesize = node.eraseSize;
    info.writesize = 2048;
    info.oobsize = 64;
    std::memcpy(arg, &info, sizeof info);
    return 0;
  }
  if (request == MEMERASE) return Erase(*d, node, arg);
  Violation("unknown MTD request " + std::to_string(request));
  return Fail(ENOTTY);
}

long SimulatedStorage::Read(int fd, void* buf, unsigned long count) {
  Descriptor* d = FindDescriptor(fd);
  if (d == nullptr) return Fail(EBADF);
  Node& node = nodes_[d->path];
  if ((d->flags & O_ACCMODE) == O_WRONLY) return Fail(EBADF);
  if (PathLock(d->path) == LockState::kNone) ++node.readsWithoutLock;
  const size_t available = d->position < node.bytes.size() ? node.bytes.size() - d->position : 0;
  const size_t n = std::min<size_t>(count, available);
  std::memcpy(buf, node.bytes.data() + d->position, n);
  d->position += n;
  events_.push_back("read " + std::to_string(n));
  return static_cast<long>(n);
}

long SimulatedStorage::Write(int fd, const void* buf, unsigned long count) {
  Descriptor* d = FindDescriptor(fd);
  if (d == nullptr) return Fail(EBADF);
  Node& node = nodes_[d->path];
  if ((d->flags & O_ACCMODE) == O_RDONLY) return Fail(EBADF);
  events_.push_back("write " + std::to_string(count));
  ++node.writes;
  if (PathLock(d->path) != LockState::kExclusive) ++node.writesWithoutExclusiveLock;
  size_t n = count;
  if (node.shortWriteBy > 0)
    n = count > static_cast<size_t>(node.shortWriteBy) ? count - node.shortWriteBy : 0;
  const unsigned char* data = static_cast<const unsigned char*>(buf);
  if (node.mtd) {
    if (d->position >= node.bytes.size()) return Fail(ENOSPC);
    n = std::min(n, node.bytes.size() - d->position);
    // NAND pages are programmed only once between erases.
    for (size_t i = 0; i < n; ++i) {
      if (node.bytes[d->position + i] != 0xFF) {
        Violation("write over bytes not erased at offset " + std::to_string(d->position + i));
        return Fail(EIO);
      }
    }
  } else if (d->position + n > node.bytes.size()) {
    node.bytes.resize(d->position + n);
  }
  std::memcpy(node.bytes.data() + d->position, data, n);
  d->position += n;
  return static_cast<long>(n);
}

long SimulatedStorage::Length(int fd) {
  Descriptor* d = FindDescriptor(fd);
  if (d == nullptr) return Fail(EBADF);
  d->position = 0;
  return static_cast<long>(nodes_[d->path].bytes.size());
}

int SimulatedStorage::Lock(int fd, int operation) {
  Descriptor* d = FindDescriptor(fd);
  if (d == nullptr) return Fail(EBADF);
  if (nodes_[d->path].failLock) return Fail(ENOLCK);
  if (operation == LOCK_UN) {
    events_.push_back("unlock");
    d->lock = LockState::kNone;
    return 0;
  }
  const bool exclusive = operation == LOCK_EX;
  if (!exclusive && operation != LOCK_SH) {
    Violation("unknown lock operation " + std::to_string(operation));
    return Fail(EINVAL);
  }
  events_.push_back(exclusive ? "lock-ex" : "lock-sh");
  // One process, one thread: a lock held by another descriptor would block for ever.
  for (const auto& entry : descriptors_) {
    if (entry.first == fd || entry.second.path != d->path || entry.second.lock == LockState::kNone) continue;
    if (exclusive || entry.second.lock == LockState::kExclusive) {
      Violation("lock that would wait for another descriptor of the same run");
      return Fail(EDEADLK);
    }
  }
  d->lock = exclusive ? LockState::kExclusive : LockState::kShared;
  return 0;
}
