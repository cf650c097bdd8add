// verify: a run's logs accounted for, frame by frame (reader/verify.h has
// the rules), said as a table, CSV or JSON on standard output.
//
//   buslog-host: verify of 2 logs
//     run-002.buslog  frames 4121-8240 (4120 frames, 4124 lines)
//     frames          8240 numbered: 4120 present, 4120 removed, 0 lost, 0 gone, 0 unexplained
//     removed         frames 1-4120 (by the ring, as asked)
//     verdict         nothing lost
#include <cstdio>
#include <string>

#include "command_line.h"
#include "platform/message.h"
#include "platform/system.h"
#include "tools/log_tools.h"
#include "verify.h"

namespace buslog_host {
namespace {

using buslog_reader::GapCause;
using buslog_reader::Verdict;
using buslog_reader::Verification;

typedef unsigned long long Count;

const char* CauseName(GapCause cause) {
  switch (cause) {
    case GapCause::kRemoved: return "removed";
    case GapCause::kLost: return "lost";
    case GapCause::kGone: return "gone";
    case GapCause::kUnexplained: return "unexplained";
  }
  return "";
}

const char* VerdictText(Verdict verdict) {
  switch (verdict) {
    case Verdict::kIntact: return "nothing lost";
    case Verdict::kExplained: return "frames lost, and a record explains every loss";
    case Verdict::kUnexplained: return "something is unexplained";
  }
  return "";
}

// "4121-8240", or "7".
std::string Range(uint32_t first, uint32_t last) {
  return first == last ? std::to_string(first) : std::to_string(first) + "-" + std::to_string(last);
}

void PrintTable(const Verification& v) {
  printf("buslog-host: verify of %zu log%s\n", v.files.size(), v.files.size() == 1 ? "" : "s");
  for (const auto& f : v.files) {
    std::string frames = f.firstFrame == 0 ? "no frames" : "frames " + Range(f.firstFrame, f.lastFrame);
    printf("  %s  %s (%llu frames, %llu lines)%s%s%s\n", f.path.c_str(), frames.c_str(), static_cast<Count>(f.frames),
           static_cast<Count>(f.lines), f.cutEnd ? "; ends in a cut line" : "", f.noLog ? "; no log" : "",
           f.malformed > (f.cutEnd ? 1u : 0u) ? "; malformed lines" : "");
  }
  printf("  frames          %llu numbered: %llu present, %llu removed, %llu lost, %llu gone, %llu unexplained\n",
         static_cast<Count>(v.highest), static_cast<Count>(v.present), static_cast<Count>(v.removed),
         static_cast<Count>(v.lost), static_cast<Count>(v.gone), static_cast<Count>(v.unexplained));
  for (const auto& gap : v.gaps) {
    std::string why = gap.cause == GapCause::kRemoved       ? "by the ring, as asked"
                      : gap.cause == GapCause::kUnexplained ? "no record says why"
                                                            : gap.why;
    printf("  %-15s frame%s %s (%s)\n", CauseName(gap.cause), gap.first == gap.last ? "" : "s",
           Range(gap.first, gap.last).c_str(), why.c_str());
  }
  for (const auto& d : v.drops) {
    printf("  dropped         %llu frame%s on %s, by the kernel (%s:%llu)\n", static_cast<Count>(d.count),
           d.count == 1 ? "" : "s", d.interfaceName.c_str(), d.path.c_str(), static_cast<Count>(d.line));
  }
  if (v.twice > 0) printf("  twice           %llu frame numbers stand more than once (logs of more than one run?)\n",
                         static_cast<Count>(v.twice));
  printf("  verdict         %s\n", VerdictText(v.verdict));
}

// A CSV field, quoted where it must be.
std::string Field(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

void PrintCsv(const Verification& v) {
  printf("item,file,first,last,count,why\n");
  for (const auto& f : v.files) {
    printf("file,%s,%u,%u,%llu,%s\n", Field(f.path).c_str(), f.firstFrame, f.lastFrame, static_cast<Count>(f.frames),
           f.cutEnd ? "ends in a cut line" : f.noLog ? "no log" : "");
  }
  for (const auto& gap : v.gaps) {
    printf("%s,,%u,%u,%llu,%s\n", CauseName(gap.cause), gap.first, gap.last,
           static_cast<Count>(gap.last - gap.first + 1ull), Field(gap.why).c_str());
  }
  for (const auto& d : v.drops) {
    printf("dropped,%s,,,%llu,%s\n", Field(d.path).c_str(), static_cast<Count>(d.count), Field(d.interfaceName).c_str());
  }
  if (v.twice > 0) printf("twice,,,,%llu,\n", static_cast<Count>(v.twice));
  printf("verdict,,,,%d,%s\n", static_cast<int>(v.verdict), Field(VerdictText(v.verdict)).c_str());
}

std::string Json(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escaped[8];
      snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

void PrintJson(const Verification& v) {
  printf("{\"verdict\":%d,\"numbered\":%u,\"present\":%llu,\"removed\":%llu,\"lost\":%llu,\"gone\":%llu,"
         "\"unexplained\":%llu,\"twice\":%llu,\"dropped\":%llu,\"files\":[",
         static_cast<int>(v.verdict), v.highest, static_cast<Count>(v.present), static_cast<Count>(v.removed),
         static_cast<Count>(v.lost), static_cast<Count>(v.gone), static_cast<Count>(v.unexplained),
         static_cast<Count>(v.twice), static_cast<Count>(v.dropped));
  for (size_t i = 0; i < v.files.size(); ++i) {
    const auto& f = v.files[i];
    printf("%s{\"path\":%s,\"first\":%u,\"last\":%u,\"frames\":%llu,\"lines\":%llu,\"cut\":%s,\"log\":%s}",
           i == 0 ? "" : ",", Json(f.path).c_str(), f.firstFrame, f.lastFrame, static_cast<Count>(f.frames),
           static_cast<Count>(f.lines), f.cutEnd ? "true" : "false", f.noLog ? "false" : "true");
  }
  printf("],\"gaps\":[");
  for (size_t i = 0; i < v.gaps.size(); ++i) {
    const auto& g = v.gaps[i];
    printf("%s{\"first\":%u,\"last\":%u,\"cause\":\"%s\",\"why\":%s}", i == 0 ? "" : ",", g.first, g.last,
           CauseName(g.cause), Json(g.why).c_str());
  }
  printf("],\"drops\":[");
  for (size_t i = 0; i < v.drops.size(); ++i) {
    const auto& d = v.drops[i];
    printf("%s{\"interface\":%s,\"count\":%llu,\"file\":%s,\"line\":%llu}", i == 0 ? "" : ",",
           Json(d.interfaceName).c_str(), static_cast<Count>(d.count), Json(d.path).c_str(), static_cast<Count>(d.line));
  }
  printf("]}\n");
}

}  // namespace

int RunVerify(int argc, char** argv) {
  VerifyOptions options;
  ParseResult parsed = ParseVerifyOptions(argc, argv, &options);
  if (parsed != ParseResult::kRun) return parsed == ParseResult::kHelp ? 0 : 2;
  std::vector<std::string> paths(options.logs.begin(), options.logs.end());
  Verification verification;
  std::string error;
  if (!buslog_reader::VerifyLogs(paths, &verification, &error)) {
    Message("buslog-host: verify: %s\n", error.c_str());
    return 3;
  }
  SetBinaryMode(stdout);
  if (options.json) {
    PrintJson(verification);
  } else if (options.csv) {
    PrintCsv(verification);
  } else {
    PrintTable(verification);
  }
  if (fflush(stdout) != 0 || ferror(stdout)) {
    Message("buslog-host: standard output: write error\n");
    return 3;
  }
  return static_cast<int>(verification.verdict);
}

}  // namespace buslog_host
