// pcap and pcapng files through libpcap: a reader that streams one record
// at a time (memory bounded by the largest record, never by the file's
// length) and tells where a broken file breaks, and a writer of raw-IP
// pcap files that Wireshark and tshark open as they are.
#ifndef OMBRIX_CAPTURE_CAPTURE_FILE_H
#define OMBRIX_CAPTURE_CAPTURE_FILE_H

#include <cstdint>
#include <cstdio>
#include <string>

typedef struct pcap pcap_t;
typedef struct pcap_dumper pcap_dumper_t;

namespace ombrix_capture {

struct CapturedFrame {
  int64_t timeNs = 0;             // the record's timestamp, nanoseconds since 1970
  const uint8_t* data = nullptr;  // valid until the next call of Next
  size_t captured = 0;
  size_t original = 0;
  uint64_t offset = 0;  // of the record in the file
};

class CaptureReader {
 public:
  CaptureReader() = default;
  ~CaptureReader();
  CaptureReader(const CaptureReader&) = delete;
  CaptureReader& operator=(const CaptureReader&) = delete;

  // Opens a pcap or pcapng file. On failure error gets one sentence naming
  // the file.
  bool Open(const std::string& path, std::string* error);
  // The same over a stream the reader then owns (the fuzz harness).
  bool Open(FILE* stream, const std::string& name, std::string* error);
  // 1: frame filled; 0: the end of the file; -1: the file is broken at
  // frame->offset, with one sentence naming file and offset in error.
  int Next(CapturedFrame* frame, std::string* error);
  // The link type (libpcap's DLT number) of the file's frames.
  uint32_t linkType() const { return linkType_; }
  const std::string& name() const { return name_; }
  void Close();

 private:
  bool Opened(std::string* error);

  pcap_t* pcap_ = nullptr;
  std::string name_;
  uint32_t linkType_ = 0;
};

// Writes raw-IP frames (LINKTYPE_RAW, microsecond timestamps, snapshot
// length 65535) to a new pcap file.
class CaptureWriter {
 public:
  CaptureWriter() = default;
  ~CaptureWriter();
  CaptureWriter(const CaptureWriter&) = delete;
  CaptureWriter& operator=(const CaptureWriter&) = delete;

  bool Open(const std::string& path, std::string* error);
  // Appends one record; false with a sentence when the file cannot be
  // written (disk full ...).
  bool Write(int64_t timeNs, const uint8_t* frame, size_t size, std::string* error);
  // Pushes what is buffered to the file, so that a reader (or a power cut)
  // sees every record written so far.
  bool Flush(std::string* error);
  // Flushes and closes; false when the last writes failed.
  bool Close(std::string* error);
  bool open() const { return dumper_ != nullptr; }
  uint64_t bytes() const { return bytes_; }  // the file's size so far
  uint64_t records() const { return records_; }
  const std::string& path() const { return path_; }

  static constexpr uint64_t kFileHeaderSize = 24;
  static constexpr uint64_t kRecordHeaderSize = 16;

 private:
  pcap_t* dead_ = nullptr;
  pcap_dumper_t* dumper_ = nullptr;
  std::string path_;
  uint64_t bytes_ = 0;
  uint64_t records_ = 0;
};

}  // namespace ombrix_capture

#endif  // OMBRIX_CAPTURE_CAPTURE_FILE_H
