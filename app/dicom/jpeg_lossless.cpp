#include "dicom/jpeg_lossless.h"

#include <algorithm>
#include <cstring>

namespace velmo {

bool HuffmanTable::Build(const uint8_t counts[16], const uint8_t* symbols, size_t symbolCount) {
  defined_ = false;
  std::memset(fast_, 0, sizeof fast_);
  int code = 0;
  size_t k = 0;
  maxCode_[0] = -1;
  for (int len = 1; len <= 16; ++len) {
    valPtr_[len] = static_cast<int32_t>(k) - code;
    for (int i = 0; i < counts[len - 1]; ++i) {
      if (k >= symbolCount || k >= 256 || code >= (1 << len)) return false;
      const uint8_t symbol = symbols[k];
      symbols_[k] = symbol;
      if (len <= kFastBits) {
        const int spread = 1 << (kFastBits - len);
        for (int j = 0; j < spread; ++j) fast_[(code << (kFastBits - len)) | j] = static_cast<uint16_t>(len << 8 | symbol);
      }
      ++code;
      ++k;
    }
    maxCode_[len] = counts[len - 1] != 0 ? code - 1 : -1;
    code <<= 1;
  }
  maxCode_[17] = INT32_MAX;
  defined_ = true;
  return true;
}

void JpegBitReader::Fill() {
  while (count_ <= 56) {
    uint8_t byte = 0;
    if (pos_ < end_ && *pos_ != 0xFF) {
      byte = *pos_++;
    } else if (end_ - pos_ >= 2 && pos_[1] == 0x00) {
      byte = 0xFF;  // a stuffed zero byte follows a data byte of 0xFF
      pos_ += 2;
    } else {
      // A marker or the end: the data of this scan is over; supply zeros.
      zeroBits_ += 8;
    }
    buffer_ |= static_cast<uint64_t>(byte) << (56 - count_);
    count_ += 8;
  }
}

int JpegBitReader::Decode(const HuffmanTable& table) {
  if (count_ < 16) Fill();
  const uint16_t entry = table.fast_[buffer_ >> (64 - HuffmanTable::kFastBits)];
  int len;
  int symbol;
  if (entry != 0) {
    len = entry >> 8;
    symbol = entry & 0xFF;
  } else {
    for (len = HuffmanTable::kFastBits + 1;; ++len) {
      if (len > 16) return -1;
      const int32_t code = static_cast<int32_t>(buffer_ >> (64 - len));
      if (code <= table.maxCode_[len]) {
        const int32_t index = table.valPtr_[len] + code;
        if (index < 0 || index > 255) return -1;
        symbol = table.symbols_[index];
        break;
      }
    }
  }
  buffer_ <<= len;
  count_ -= len;
  if (count_ < zeroBits_) exhausted_ = true;
  return symbol;
}

uint32_t JpegBitReader::Bits(int n) {
  if (n <= 0) return 0;
  if (count_ < n) Fill();
  const uint32_t v = static_cast<uint32_t>(buffer_ >> (64 - n));
  buffer_ <<= n;
  count_ -= n;
  if (count_ < zeroBits_) exhausted_ = true;
  return v;
}

bool JpegBitReader::Restart() {
  buffer_ = 0;
  count_ = 0;
  zeroBits_ = 0;
  // Bytes of the finished interval not yet read are skipped up to the marker.
  while (end_ - pos_ >= 2) {
    if (pos_[0] != 0xFF) {
      ++pos_;
    } else if (pos_[1] >= 0xD0 && pos_[1] <= 0xD7) {
      pos_ += 2;
      return true;
    } else if (pos_[1] == 0xFF || pos_[1] == 0x00) {
      ++pos_;
    } else {
      return false;  // another marker: the scan ends here
    }
  }
  return false;
}

namespace {

struct ScanComponent {
  int index;  // into the frame's components
  int table;  // DC table id
};

// Decodes one lossless scan into the planes. Returns false when the data broke off.
bool DecodeScan(JpegBitReader& reader, const JpegFrameHeader& h, const ScanComponent* comps, int count,
                const HuffmanTable* tables, int predictor, int pointTransform, int restartInterval,
                std::vector<std::vector<uint16_t>>& planes) {
  const int w = h.width;
  const int rows = h.height;
  const int initial = 1 << std::max(0, h.precision - pointTransform - 1);
  int left = restartInterval;
  size_t intervalStart = 0;  // pixel index where the current restart interval began
  int intervalRow = 0;
  for (int y = 0; y < rows; ++y) {
    for (int x = 0; x < w; ++x) {
      const size_t i = static_cast<size_t>(y) * w + x;
      if (restartInterval > 0) {
        if (left == 0) {
          if (!reader.Restart()) return false;
          left = restartInterval;
          intervalStart = i;
          intervalRow = y;
        }
        --left;
      }
      for (int k = 0; k < count; ++k) {
        uint16_t* plane = planes[comps[k].index].data();
        int prediction;
        if (i == intervalStart) {
          prediction = initial;
        } else if (y == intervalRow) {
          prediction = plane[i - 1];
        } else if (x == 0) {
          prediction = plane[i - w];
        } else {
          const int ra = plane[i - 1], rb = plane[i - w], rc = plane[i - w - 1];
          switch (predictor) {
            case 1: prediction = ra; break;
            case 2: prediction = rb; break;
            case 3: prediction = rc; break;
            case 4: prediction = ra + rb - rc; break;
            case 5: prediction = ra + ((rb - rc) >> 1); break;
            case 6: prediction = rb + ((ra - rc) >> 1); break;
            case 7: prediction = (ra + rb) >> 1; break;
            default: prediction = 0; break;
          }
        }
        const int category = reader.Decode(tables[comps[k].table]);
        int diff;
        if (category < 0 || category > 16) return false;
        if (category == 0) {
          diff = 0;
        } else if (category == 16) {
          diff = 32768;
        } else {
          diff = ExtendJpegDifference(reader.Bits(category), category);
        }
        plane[i] = static_cast<uint16_t>(prediction + diff);
      }
    }
    if (reader.exhausted()) return false;
  }
  return true;
}

}  // namespace

bool ReadJpegFrameHeader(const uint8_t* data, size_t length, JpegFrameHeader* header) {
  if (data == nullptr) return false;
  JpegMarkerWalker walk(data, length);
  if (!walk.StartOfImage()) return false;
  const uint8_t* s;
  size_t n;
  for (int m; (m = walk.Next(&s, &n)) != 0;) {
    if (IsJpegFrameMarker(m)) return ParseJpegFrameHeader(m, s, n, header);
    if (m == 0xDA || m == 0xD9) return false;
  }
  return false;
}

LosslessStatus DecodeJpegLossless(const uint8_t* data, size_t length, uint8_t* frame, int rows, int columns,
                                  int bytesPerPixel) {
  if (data == nullptr || frame == nullptr || rows <= 0 || columns <= 0) return LosslessStatus::kBadStream;
  if (bytesPerPixel != 1 && bytesPerPixel != 2 && bytesPerPixel != 3) return LosslessStatus::kUnsupported;
  JpegMarkerWalker walk(data, length);
  if (!walk.StartOfImage()) return LosslessStatus::kBadStream;

  JpegFrameHeader h;
  bool haveFrame = false;
  HuffmanTable tables[4];
  int restartInterval = 0;
  int scans = 0;
  bool broken = false;
  std::vector<std::vector<uint16_t>> planes;
  const uint8_t* s;
  size_t n;
  for (int m; !broken && (m = walk.Next(&s, &n)) != 0;) {
    if (m == 0xD9) break;
    if (IsJpegFrameMarker(m)) {
      if (haveFrame) break;  // a second frame (hierarchical): keep the first
      if (!ParseJpegFrameHeader(m, s, n, &h)) return LosslessStatus::kBadStream;
      if (m != 0xC3) return LosslessStatus::kUnsupported;
      if (h.precision < 2 || h.precision > 16 || h.width == 0 || h.height == 0) return LosslessStatus::kUnsupported;
      for (int c = 0; c < h.components; ++c)
        if (h.sampling[c] != 0x11) return LosslessStatus::kUnsupported;
      // A stream far larger than the frame it fills is damaged.
      const uint64_t samples = static_cast<uint64_t>(h.width) * h.height;
      const uint64_t room = static_cast<uint64_t>(rows) * static_cast<uint64_t>(columns);
      if (samples > std::max<uint64_t>(4 * room, 1u << 20)) return LosslessStatus::kBadStream;
      planes.assign(h.components, std::vector<uint16_t>(static_cast<size_t>(samples), 0));
      haveFrame = true;
    } else if (m == 0xC4) {
      while (n >= 17) {
        const int cls = s[0] >> 4, id = s[0] & 15;
        size_t count = 0;
        for (int i = 0; i < 16; ++i) count += s[1 + i];
        if (count > 256 || 17 + count > n || id > 3) return haveFrame && scans > 0 ? LosslessStatus::kPartial : LosslessStatus::kBadStream;
        if (cls == 0 && !tables[id].Build(s + 1, s + 17, count)) return scans > 0 ? LosslessStatus::kPartial : LosslessStatus::kBadStream;
        s += 17 + count;
        n -= 17 + count;
      }
    } else if (m == 0xDD) {
      if (n >= 2) restartInterval = s[0] << 8 | s[1];
    } else if (m == 0xDA) {
      if (!haveFrame || n < 1) return LosslessStatus::kBadStream;
      const int count = s[0];
      if (count < 1 || count > h.components || n < 4 + 2u * count) return LosslessStatus::kBadStream;
      ScanComponent comps[4];
      for (int k = 0; k < count; ++k) {
        const uint8_t id = s[1 + 2 * k];
        int index = -1;
        for (int c = 0; c < h.components; ++c)
          if (h.ids[c] == id) index = c;
        const int table = s[2 + 2 * k] >> 4;
        if (index < 0 || table > 3 || !tables[table].defined()) return LosslessStatus::kBadStream;
        comps[k] = {index, table};
      }
      const int predictor = s[1 + 2 * count];
      const int pointTransform = s[3 + 2 * count] & 15;
      if (predictor > 7) return LosslessStatus::kUnsupported;
      JpegBitReader reader(s + n, walk.end());
      ++scans;
      if (!DecodeScan(reader, h, comps, count, tables, predictor, pointTransform, restartInterval, planes)) broken = true;
      // Undo the point transform once the scan is complete.
      if (pointTransform > 0)
        for (int k = 0; k < count; ++k)
          for (uint16_t& v : planes[comps[k].index]) v = static_cast<uint16_t>(v << pointTransform);
      walk.MoveTo(reader.position());
    }
  }
  if (scans == 0) return LosslessStatus::kBadStream;

  const int outRows = std::min(rows, h.height);
  const int outColumns = std::min(columns, h.width);
  const int topShift = std::max(0, h.precision - 8);
  for (int y = 0; y < outRows; ++y) {
    const size_t in = static_cast<size_t>(y) * h.width;
    uint8_t* out = frame + static_cast<size_t>(y) * columns * bytesPerPixel;
    const uint16_t* c0 = planes[0].data() + in;
    if (bytesPerPixel == 1) {
      for (int x = 0; x < outColumns; ++x) out[x] = static_cast<uint8_t>(c0[x]);
    } else if (bytesPerPixel == 2) {
      for (int x = 0; x < outColumns; ++x) {
        out[2 * x] = static_cast<uint8_t>(c0[x]);
        out[2 * x + 1] = static_cast<uint8_t>(c0[x] >> 8);
      }
    } else {
      const uint16_t* c1 = h.components >= 3 ? planes[1].data() + in : c0;
      const uint16_t* c2 = h.components >= 3 ? planes[2].data() + in : c0;
      for (int x = 0; x < outColumns; ++x) {
        out[3 * x] = static_cast<uint8_t>(c0[x] >> topShift);
        out[3 * x + 1] = static_cast<uint8_t>(c1[x] >> topShift);
        out[3 * x + 2] = static_cast<uint8_t>(c2[x] >> topShift);
      }
    }
  }
  return broken ? LosslessStatus::kPartial : LosslessStatus::kOk;
}

}  // namespace velmo
