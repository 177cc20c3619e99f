#include "capture_file.h"

#include <pcap/pcap.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace ombrix_capture {
namespace {

constexpr int64_t kLatestSeconds = 4000000000;

std::string LibpcapSentence(const char* text) {
  std::string message = text;
  while (!message.empty() && (message.back() == '.' || message.back() == '\n')) message.pop_back();
  return message;
}

}  // namespace

CaptureReader::~CaptureReader() { Close(); }

void CaptureReader::Close() {
  if (pcap_ != nullptr) pcap_close(pcap_);
  pcap_ = nullptr;
}

bool CaptureReader::Open(const std::string& path, std::string* error) {
  Close();
  name_ = path;
  FILE* stream = fopen(path.c_str(), "rb");
  if (stream == nullptr) {
    *error = path + ": cannot open it (" + strerror(errno) + ").";
    return false;
  }
  return Open(stream, path, error);
}

bool CaptureReader::Open(FILE* stream, const std::string& name, std::string* error) {
  Close();
  name_ = name;
  char message[PCAP_ERRBUF_SIZE] = "";
  pcap_ = pcap_fopen_offline_with_tstamp_precision(stream, PCAP_TSTAMP_PRECISION_NANO, message);
  if (pcap_ == nullptr) {
    fclose(stream);
    *error = name + " is not a pcap or pcapng file that can be read (at byte 0: " + LibpcapSentence(message) + ").";
    return false;
  }
  return Opened(error);
}

bool CaptureReader::Opened(std::string* error) {
  int link = pcap_datalink(pcap_);
  if (link < 0) {
    *error = name_ + ": its link type cannot be read (" + LibpcapSentence(pcap_geterr(pcap_)) + ").";
    Close();
    return false;
  }
  linkType_ = static_cast<uint32_t>(link);
  return true;
}

int CaptureReader::Next(CapturedFrame* frame, std::string* error) {
  if (pcap_ == nullptr) return 0;
  long position = ftell(pcap_file(pcap_));
  frame->offset = position < 0 ? 0 : static_cast<uint64_t>(position);
  pcap_pkthdr* header = nullptr;
  const u_char* data = nullptr;
  int result = pcap_next_ex(pcap_, &header, &data);
  if (result == PCAP_ERROR_BREAK) return 0;  // the end of the file
  if (result != 1) {
    *error = name_ + " is broken at byte " + std::to_string(frame->offset) + " (" +
             LibpcapSentence(pcap_geterr(pcap_)) + ").";
    return -1;
  }
  // Times past the year 2096 (a corrupt or hostile file) are held there,
  // so that no sum of times can overflow.
  int64_t seconds = std::min<int64_t>(std::max<int64_t>(header->ts.tv_sec, 0), kLatestSeconds);
  int64_t fraction = std::min<int64_t>(std::max<int64_t>(header->ts.tv_usec, 0), 999999999);
  frame->timeNs = seconds * 1000000000 + fraction;
  frame->data = data;
  frame->captured = header->caplen;
  frame->original = header->len;
  return 1;
}

CaptureWriter::~CaptureWriter() {
  std::string ignored;
  Close(&ignored);
}

bool CaptureWriter::Open(const std::string& path, std::string* error) {
  std::string ignored;
  Close(&ignored);
  path_ = path;
  dead_ = pcap_open_dead_with_tstamp_precision(DLT_RAW, 65535, PCAP_TSTAMP_PRECISION_MICRO);
  if (dead_ == nullptr) {
    *error = path + ": libpcap could not start a capture file.";
    return false;
  }
  dumper_ = pcap_dump_open(dead_, path.c_str());
  if (dumper_ == nullptr) {
    *error = path + ": cannot write it (" + LibpcapSentence(pcap_geterr(dead_)) + ").";
    pcap_close(dead_);
    dead_ = nullptr;
    return false;
  }
  bytes_ = kFileHeaderSize;
  records_ = 0;
  return Flush(error);
}

bool CaptureWriter::Write(int64_t timeNs, const uint8_t* frame, size_t size, std::string* error) {
  if (dumper_ == nullptr) return false;
  pcap_pkthdr header{};
  header.ts.tv_sec = static_cast<time_t>(timeNs / 1000000000);
  header.ts.tv_usec = static_cast<suseconds_t>((timeNs % 1000000000) / 1000);
  header.caplen = static_cast<bpf_u_int32>(size);
  header.len = static_cast<bpf_u_int32>(size);
  pcap_dump(reinterpret_cast<u_char*>(dumper_), &header, frame);
  if (ferror(pcap_dump_file(dumper_))) {
    *error = path_ + ": writing failed at byte " + std::to_string(bytes_) + " (" + strerror(errno) + ").";
    return false;
  }
  bytes_ += kRecordHeaderSize + size;
  ++records_;
  return true;
}

bool CaptureWriter::Flush(std::string* error) {
  if (dumper_ == nullptr) return true;
  if (pcap_dump_flush(dumper_) != 0 || ferror(pcap_dump_file(dumper_))) {
    *error = path_ + ": writing failed at byte " + std::to_string(bytes_) + " (" + strerror(errno) + ").";
    return false;
  }
  return true;
}

bool CaptureWriter::Close(std::string* error) {
  bool good = true;
  if (dumper_ != nullptr) {
    good = Flush(error);
    pcap_dump_close(dumper_);
    dumper_ = nullptr;
  }
  if (dead_ != nullptr) pcap_close(dead_);
  dead_ = nullptr;
  return good;
}

}  // namespace ombrix_capture
