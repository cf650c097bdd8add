// Frame header, choice of body, and the generic form.
#include "format/frame.h"

#include "format/bodies.h"

namespace buslog {
namespace {

// Kind codes and their letters; compared as whole 32-bit values.
struct KindLetter {
  uint32_t kindCode;
  char letter;
};
constexpr KindLetter kKindLetters[] = {
    {0x3030, 'O'}, {0x3031, 'I'}, {0x3033, 'P'}, {0x3131, 'E'}, {0xFFFB, 'M'},
};

constexpr uint32_t kBusCan = 4;
constexpr uint32_t kBusLin = 12;
constexpr uint32_t kBusCxpi = 40;
constexpr uint32_t kBusPortIn = 0;
constexpr uint32_t kBusPortOut = 0x83;
constexpr uint32_t kBusNumbered = 128;
constexpr uint32_t kKindPort = 0x3033;
constexpr uint32_t kKindEnvironment = 0x3131;
constexpr uint32_t kKindMarker = 0xFFFB;

constexpr uint32_t kBusNameWidth = 8;
constexpr uint32_t kChannelWidth = 2;

char FindKindLetter(uint32_t kindCode) {
  for (const KindLetter& kind : kKindLetters) {
    if (kind.kindCode == kindCode) return kind.letter;
  }
  return '\0';
}

// The bus name of a record, blank-padded to its 8 characters and with the
// comma behind it (",%-8s,"), or nullptr if the record is not recognised.
const char* FindBusName(uint32_t kindCode, uint32_t busCode) {
  if (busCode == kBusCan) return ",CAN     ,";
  if (busCode == kBusLin) return ",LIN     ,";
  if (busCode == kBusCxpi) return ",CXPI    ,";
  if (kindCode == kKindPort) {
    if (busCode == kBusPortIn) return ",P/I     ,";
    if (busCode == kBusPortOut) return ",P/O     ,";
    return nullptr;
  }
  if (kindCode == kKindEnvironment) return ",Env     ,";
  if (kindCode == kKindMarker) return ",Marker  ,";
  return nullptr;
}
constexpr uint32_t kBusNameField = 1 + kBusNameWidth + 1;
static_assert(sizeof(",Marker  ,") - 1 == kBusNameField, "bus names are padded to 8 characters");

bool HasNumberedChannel(uint32_t busCode) {
  return busCode == kBusCan || busCode == kBusLin || busCode == kBusCxpi || busCode == kBusNumbered;
}

// "%2s" of the channel text: "-" or "%d" of channel + 1 (taken in 32 bits),
// right-aligned in two characters. A number that needs more is printed
// whole rather than cut, so the header grows instead of lying.
void PutChannelText(TextSink& sink, uint32_t busCode, int32_t channel) {
  if (!HasNumberedChannel(busCode)) {
    PutBytes(sink, " -", kChannelWidth);
    return;
  }
  uint32_t number = static_cast<uint32_t>(channel) + 1u;
  if (number < 100) {
    const char text[kChannelWidth] = {number < 10 ? ' ' : kDigitPairs[2 * number], kDigitPairs[2 * number + 1]};
    PutBytes(sink, text, kChannelWidth);
    return;
  }
  // Three characters or more, or a minus sign and at least one digit: never padded.
  PutSignedDecimal(sink, static_cast<int32_t>(number));
}

}  // namespace

bool FormatFrame(TextSink& sink, const FrameRecord& record) {
  char letter = FindKindLetter(record.kindCode);
  if (letter == '\0') return false;
  const char* busName = FindBusName(record.kindCode, record.busCode);
  if (busName == nullptr) return false;

  // ",%c,%-8s,%2s,%s" of kind letter, bus name, channel text, status text.
  TextSink out = sink;
  const char kindField[2] = {',', letter};
  PutBytes(out, kindField, sizeof kindField);
  PutBytes(out, busName, kBusNameField);
  PutChannelText(out, record.busCode, record.channel);
  PutBytes(out, record.statusFlag == 0 ? ",OK" : ",NG", 3);
  sink = out;

  if (record.busCode == kBusCan) {
    FormatCanFrame(sink, record.dataLength, record.data);
  } else if (record.busCode == kBusLin) {
    FormatLinFrame(sink, record.dataLength, record.data);
  } else if (record.busCode == kBusCxpi) {
    FormatCxpiFrame(sink, record.dataLength, record.data);
  } else if (record.kindCode == kKindPort) {
    FormatPortBody(sink, record.data);
  } else if (record.kindCode == kKindEnvironment) {
    FormatEnvironmentBody(sink, record.data);
  } else {
    FormatMarkerBody(sink, static_cast<int32_t>(record.dataLength), record.data);
  }
  return true;
}

void FormatGenericRecord(TextSink& sink, const FrameRecord& record) {
  // ",%04X,%02X,%02X,%X", each argument as a 32-bit unsigned value.
  TextSink out = sink;
  PutChar(out, ',');
  PutHex(out, record.kindCode, 4);
  PutChar(out, ',');
  PutHex(out, record.busCode, 2);
  PutChar(out, ',');
  PutHex(out, static_cast<uint32_t>(record.channel), 2);
  PutChar(out, ',');
  PutHex(out, static_cast<uint32_t>(record.statusFlag), 1);
  PutCommaHexBytes(out, record.data, record.dataLength);
  sink = out;
}

}  // namespace buslog
