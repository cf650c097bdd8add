// The C interface of verify (include/buslog_reader.h): the verification
// of verify.h behind a handle, its parts handed out as structs whose texts
// stay valid until the handle is freed. Nothing throws across the
// interface.
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "buslog_reader.h"
#include "verify.h"

struct BuslogVerification {
  buslog_reader::Verification result;
};

namespace {

void SayError(char* error, size_t size, const std::string& text) {
  if (error != nullptr && size > 0) snprintf(error, size, "%s", text.c_str());
}

template <typename T>
bool Fits(const T* out) {
  return out != nullptr && out->size >= sizeof(T);
}

}  // namespace

extern "C" {

int BuslogVerify(const char* const* paths, uint32_t count, BuslogVerification** verification, char* error,
                 size_t errorSize) {
  if (verification == nullptr || (paths == nullptr && count > 0)) return BUSLOG_READER_BAD_ARGUMENT;
  *verification = nullptr;
  try {
    std::vector<std::string> names;
    for (uint32_t i = 0; i < count; ++i) {
      if (paths[i] == nullptr) return BUSLOG_READER_BAD_ARGUMENT;
      names.push_back(paths[i]);
    }
    BuslogVerification* made = new BuslogVerification();
    std::string why;
    if (!buslog_reader::VerifyLogs(names, &made->result, &why)) {
      delete made;
      SayError(error, errorSize, why);
      return BUSLOG_READER_OPEN_FAILED;
    }
    *verification = made;
    return BUSLOG_READER_OK;
  } catch (const std::bad_alloc&) {
    SayError(error, errorSize, "out of memory");
    return BUSLOG_READER_NO_MEMORY;
  }
}

int BuslogVerificationSummary(const BuslogVerification* verification, BuslogVerifySummary* summary) {
  if (verification == nullptr || !Fits(summary)) return BUSLOG_READER_BAD_ARGUMENT;
  const buslog_reader::Verification& v = verification->result;
  uint32_t size = summary->size;
  *summary = BuslogVerifySummary{};
  summary->size = size;
  summary->verdict = static_cast<int32_t>(v.verdict);
  summary->numbered = v.highest;
  summary->files = static_cast<uint32_t>(v.files.size());
  summary->gaps = static_cast<uint32_t>(v.gaps.size());
  summary->drops = static_cast<uint32_t>(v.drops.size());
  summary->present = v.present;
  summary->removed = v.removed;
  summary->lost = v.lost;
  summary->gone = v.gone;
  summary->unexplained = v.unexplained;
  summary->twice = v.twice;
  summary->dropped = v.dropped;
  return BUSLOG_READER_OK;
}

int BuslogVerificationFile(const BuslogVerification* verification, uint32_t index, BuslogVerifyFile* file) {
  if (verification == nullptr || !Fits(file) || index >= verification->result.files.size()) {
    return BUSLOG_READER_BAD_ARGUMENT;
  }
  const buslog_reader::VerifiedFile& f = verification->result.files[index];
  uint32_t size = file->size;
  *file = BuslogVerifyFile{};
  file->size = size;
  file->path = f.path.c_str();
  file->writer = f.writer.c_str();
  file->lines = f.lines;
  file->frames = f.frames;
  file->records = f.records;
  file->malformed = f.malformed;
  file->firstFrame = f.firstFrame;
  file->lastFrame = f.lastFrame;
  file->cutEnd = f.cutEnd ? 1 : 0;
  file->noLog = f.noLog ? 1 : 0;
  return BUSLOG_READER_OK;
}

int BuslogVerificationGap(const BuslogVerification* verification, uint32_t index, BuslogVerifyGap* gap) {
  if (verification == nullptr || !Fits(gap) || index >= verification->result.gaps.size()) {
    return BUSLOG_READER_BAD_ARGUMENT;
  }
  const buslog_reader::Gap& g = verification->result.gaps[index];
  uint32_t size = gap->size;
  *gap = BuslogVerifyGap{};
  gap->size = size;
  gap->first = g.first;
  gap->last = g.last;
  gap->cause = static_cast<int32_t>(g.cause);
  gap->why = g.why.c_str();
  return BUSLOG_READER_OK;
}

int BuslogVerificationDrops(const BuslogVerification* verification, uint32_t index, BuslogVerifyDrops* drops) {
  if (verification == nullptr || !Fits(drops) || index >= verification->result.drops.size()) {
    return BUSLOG_READER_BAD_ARGUMENT;
  }
  const buslog_reader::Drops& d = verification->result.drops[index];
  uint32_t size = drops->size;
  *drops = BuslogVerifyDrops{};
  drops->size = size;
  drops->interfaceName = d.interfaceName.c_str();
  drops->count = d.count;
  drops->path = d.path.c_str();
  drops->line = d.line;
  return BUSLOG_READER_OK;
}

void BuslogVerificationFree(BuslogVerification* verification) { delete verification; }

}  // extern "C"
