// SPDX-License-Identifier: MIT
// libFuzzer target: the whole driver once per input, on a fake framebuffer whose every answer
// comes from the input (device_script.h). Each run is held against the tool's behaviour as written
// out below by hand: its lines, the calls it makes and the bytes it writes into video memory. A
// run that breaks any of it aborts with the reason on standard error.
#include "driver.h"

#include <sys/mman.h>
#include <sys/types.h>

#include <fcntl.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "device_script.h"
#include "fake_fb.h"

namespace
{

using Lines = std::vector<std::string>;

constexpr unsigned char CANARY = 0xc5;   // video memory before the run
constexpr unsigned char DRAWN = 0x5a;    // drawn on the screen between the two clears
constexpr unsigned char RELEASED = 0xa7; // the span once unmapped, which must stay as it is
constexpr std::uint64_t GUARD = 4096;    // video memory kept past the span, to catch overruns

// The run under way.
struct Run {
    DeviceScript script;
    std::string out;              // standard output
    std::size_t line_start = 0;   // where the line being written starts in out
    std::string err;              // standard error
    bool cleared_at_open = false; // the clear at open was checked
    bool unmapped = false;        // the clear at teardown was checked
};

Run run;
// Where the mapping lands with SCRIPT_MAP_ELSEWHERE; empty without.
std::vector<unsigned char> elsewhere;
// The device's video memory between runs, kept to be reused.
std::vector<unsigned char> spare_memory;
std::FILE *real_stderr = nullptr;
std::FILE *run_stderr = nullptr;

[[noreturn]] void fail(const std::string &what)
{
    (void)std::fprintf(real_stderr, "device_fuzz: %s\ndevice_fuzz: standard output was:\n%s\n",
                       what.c_str(), run.out.c_str());
    std::abort();
}

void check(bool ok, const char *what)
{
    if (!ok)
        fail(what);
}

std::string joined(const Lines &lines)
{
    std::string text;
    for (const std::string &l : lines)
        text += l + "\n";
    return text;
}

Lines split_lines(const std::string &text)
{
    Lines lines;
    std::size_t start = 0;
    for (std::size_t end = text.find('\n'); end != std::string::npos;
         end = text.find('\n', start)) {
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    if (start < text.size())
        lines.push_back(text.substr(start));
    return lines;
}

// --- What the tool must do with this device ------------------------------------------------------

bool step_fails(const DeviceScript &s, ScriptStep step)
{
    return s.fault[step] != 0;
}

// The depth asked for: the first argument in decimal when it lies in 8 to
// 32, else 24.
long wanted_depth(const DeviceScript &s)
{
    if ((s.flags & SCRIPT_NO_ARGUMENT) != 0)
        return 24;
    const long bpp = std::strtol(s.argument.c_str(), nullptr, 10);
    return bpp < 8 || bpp > 32 ? 24 : bpp;
}

// The span the tool maps for mode m: width x height x whole bytes per
// pixel. 0 when there is nothing to map: no pixels, no depth, or more bytes
// than 32 bits hold (such a mode is not mapped at all).
std::uint64_t span_of(const fb_var_screeninfo &m)
{
    const std::uint64_t pixels = std::uint64_t{m.xres} * m.yres;
    const std::uint64_t bytes_per_pixel = (std::uint64_t{m.bits_per_pixel} + 7) / 8;
    if (pixels == 0 || bytes_per_pixel == 0 || pixels > UINT32_MAX / bytes_per_pixel)
        return 0;
    return pixels * bytes_per_pixel;
}

bool device_opens(const DeviceScript &s)
{
    return (s.flags & SCRIPT_NO_NODE) == 0 && !step_fails(s, STEP_OPEN);
}

// Whether the tool gets as far as asking for the mapping.
bool asks_for_mapping(const DeviceScript &s)
{
    return device_opens(s) && !step_fails(s, STEP_GET_VAR) && !step_fails(s, STEP_GET_FIX) &&
           span_of(s.var) != 0;
}

// Whether the device grants it: the span fits the video memory it has.
bool gets_mapping(const DeviceScript &s)
{
    return asks_for_mapping(s) && !step_fails(s, STEP_MMAP) && span_of(s.var) <= s.memory_len;
}

bool sends_mode(const DeviceScript &s)
{
    return gets_mapping(s) && static_cast<std::uint32_t>(wanted_depth(s)) != s.var.bits_per_pixel;
}

// The depth the device reports after accepting the mode sent with depth wanted.
std::uint32_t depth_after_put(const DeviceScript &s, std::uint32_t wanted)
{
    switch (s.after_put) {
    case AFTER_PUT_KEEPS_DEPTH:
        return s.var.bits_per_pixel;
    case AFTER_PUT_OTHER_DEPTH:
        return s.depth_after_put;
    case AFTER_PUT_OTHER_MODE:
        return s.mode_after_put.bits_per_pixel;
    default:
        return wanted;
    }
}

Lines expected_lines(const DeviceScript &s)
{
    Lines out{"Pixvane by Qor-EN", ""};
    const long wanted = wanted_depth(s);
    char line[128];

    if (!device_opens(s)) {
        out.emplace_back("QUIL_VO: Can't open /dev/fb/0");
        return out;
    }
    if (step_fails(s, STEP_GET_VAR)) {
        out.emplace_back("QUIL_VO: Can't get VSCREENINFO");
        return out;
    }
    if (step_fails(s, STEP_GET_FIX)) {
        out.emplace_back("QUIL_VO: Can't get FSCREENINFO");
        return out;
    }
    (void)std::snprintf(
        line, sizeof line, "QUIL_VO: FB %u@%p", s.fix.smem_len,
        reinterpret_cast<void *>(s.fix.smem_start)); // NOLINT(performance-no-int-to-ptr)
    out.emplace_back(line);
    if (!gets_mapping(s)) {
        out.emplace_back("QUIL_VO: Can't mmap");
        return out;
    }

    (void)std::snprintf(line, sizeof line, "QUIL_VO: set new bpp %ld (%d) on FB", wanted,
                        static_cast<int>(s.var.bits_per_pixel));
    out.emplace_back(line);
    if (sends_mode(s)) {
        (void)std::snprintf(line, sizeof line, "QUIL_VO: switching to bpp: %ld", wanted);
        out.emplace_back(line);
        if (step_fails(s, STEP_PUT_VAR)) {
            out.emplace_back("QUIL_VO: Can't set VSCREENINFO");
            out.emplace_back("QUIL_VO: All uninit");
            return out;
        }
        if (step_fails(s, STEP_GET_VAR_AGAIN)) {
            out.emplace_back("QUIL_VO: Can't get VSCREENINFO");
            out.emplace_back("QUIL_VO: All uninit");
            return out;
        }
        if (depth_after_put(s, static_cast<std::uint32_t>(wanted)) != wanted) {
            (void)std::snprintf(line, sizeof line, "QUIL_VO: ERROR switching to bpp: %ld", wanted);
            out.emplace_back(line);
            out.emplace_back("QUIL_VO: All uninit");
            return out;
        }
    }
    out.emplace_back("QUIL_VO: seted bpp on FB");
    out.emplace_back("QUIL_VO: All uninit");
    return out;
}

// --- The device ----------------------------------------------------------------------------------

// The buffer a granted mapping lands in.
std::vector<unsigned char> &mapped_buffer()
{
    return (run.script.flags & SCRIPT_MAP_ELSEWHERE) != 0 ? elsewhere : fake_fb().memory;
}

bool all_bytes(const unsigned char *p, std::size_t n, unsigned char value)
{
    return n == 0 || (p[0] == value && std::memcmp(p, p + 1, n - 1) == 0);
}

// Checks that the mapped span holds inside throughout, if the mapping was
// granted, and that no other byte of video memory, nor of the buffer the
// device may map instead, has changed.
void check_memory(unsigned char inside, const char *when)
{
    const std::size_t span = gets_mapping(run.script) ? span_of(run.script.var) : 0;
    for (std::vector<unsigned char> *buf : {&fake_fb().memory, &elsewhere}) {
        const std::size_t in = buf == &mapped_buffer() ? span : 0;
        if (!all_bytes(buf->data(), in, inside))
            fail(std::string("the mapped span is not what it must be ") + when);
        if (!all_bytes(buf->data() + in, buf->size() - in, CANARY))
            fail(std::string("a byte outside the mapped span was written ") + when);
    }
}

void fill_span(unsigned char value)
{
    std::memset(mapped_buffer().data(), value, span_of(run.script.var));
}

// Sees every line as it is written. The depth switch writes its first line
// once the open step has mapped and cleared the screen: then the whole span,
// and nothing else, must be zero. Something is drawn on it before the
// teardown clears it again.
void on_line(const std::string &line)
{
    if (line.rfind("QUIL_VO: set new bpp ", 0) != 0 || !gets_mapping(run.script) ||
        run.cleared_at_open)
        return;
    check_memory(0, "after the clear at open");
    fill_span(DRAWN);
    run.cleared_at_open = true;
}

// Sees every call before the device answers it. At the unmapping the clear
// at teardown is done: the whole span, and nothing else, is zero. The span
// then gets a pattern that nothing may change any more.
void on_call(const FakeCall &c)
{
    if (c.call != SysCall::munmap || !gets_mapping(run.script) || run.unmapped)
        return;
    check(run.cleared_at_open, "unmapped before the depth switch");
    check_memory(0, "after the clear at teardown");
    fill_span(RELEASED);
    run.unmapped = true;
}

ssize_t take_out(void *, const char *buf, std::size_t size)
{
    run.out.append(buf, size);
    for (std::size_t end = run.out.find('\n', run.line_start); end != std::string::npos;
         end = run.out.find('\n', run.line_start)) {
        on_line(run.out.substr(run.line_start, end - run.line_start));
        run.line_start = end + 1;
    }
    return static_cast<ssize_t>(size);
}

ssize_t take_err(void *, const char *buf, std::size_t size)
{
    run.err.append(buf, size);
    return static_cast<ssize_t>(size);
}

FakeFault fault_of(ScriptStep step, std::uint8_t byte)
{
    FakeFault f;
    switch (step) {
    case STEP_OPEN:
        f.call = SysCall::open;
        break;
    case STEP_GET_VAR:
    case STEP_GET_VAR_AGAIN:
        f.call = SysCall::ioctl;
        f.request = FBIOGET_VSCREENINFO;
        f.nth = step == STEP_GET_VAR ? 0 : 1;
        break;
    case STEP_GET_FIX:
        f.call = SysCall::ioctl;
        f.request = FBIOGET_FSCREENINFO;
        break;
    case STEP_MMAP:
        f.call = SysCall::mmap;
        break;
    case STEP_PUT_VAR:
        f.call = SysCall::ioctl;
        f.request = FBIOPUT_VSCREENINFO;
        break;
    case STEP_MUNMAP:
        f.call = SysCall::munmap;
        break;
    default:
        f.call = SysCall::close;
        break;
    }
    f.result = -1;
    f.error = byte;
    if (byte == SCRIPT_NONZERO) {
        f.result = f.call == SysCall::ioctl ? 1 : -1;
        f.error = f.call == SysCall::ioctl ? 0 : EIO;
    }
    return f;
}

void set_up_device(const DeviceScript &s)
{
    fake_fb_reset(0, 0, 0);
    FakeFb &fb = fake_fb();
    fb.present = (s.flags & SCRIPT_NO_NODE) == 0;
    if ((s.flags & SCRIPT_FD_ZERO) != 0)
        fb.next_fd = 0;
    fb.var = s.var;
    fb.fix = s.fix;
    // Video memory past the span and a guard after it is never touched by a
    // sound run, so only that much is made: the device still grants exactly
    // the spans that fit memory_len.
    const std::uint64_t span = span_of(s.var);
    const std::size_t bytes =
        span + GUARD < s.memory_len ? static_cast<std::size_t>(span + GUARD) : s.memory_len;
    fb.memory.swap(spare_memory);
    fb.memory.assign(bytes, CANARY);
    elsewhere.clear();
    if ((s.flags & SCRIPT_MAP_ELSEWHERE) != 0) {
        elsewhere.assign(bytes, CANARY);
        fb.mmap_at = elsewhere.data();
    }
    switch (s.after_put) {
    case AFTER_PUT_KEEPS_DEPTH:
        fb.put_keeps_depth = true;
        break;
    case AFTER_PUT_OTHER_DEPTH:
        fb.report_bpp = s.depth_after_put;
        break;
    case AFTER_PUT_OTHER_MODE:
        fb.mode_after_put = s.mode_after_put;
        break;
    default:
        break;
    }
    for (int step = 0; step < STEP_COUNT; ++step)
        if (s.fault[step] != 0)
            fb.faults.push_back(fault_of(static_cast<ScriptStep>(step), s.fault[step]));
    fb.observe = on_call;
}

// --- The checks after the run --------------------------------------------------------------------

// Where c stands in the one order a run can make its calls in; every call
// comes later than the one before it.
enum Order { AT_OPEN, AT_GET_VAR, AT_GET_FIX, AT_MMAP, AT_PUT, AT_GET_AGAIN, AT_MUNMAP, AT_CLOSE };

int order_of(const FakeCall &c, int &mode_reads)
{
    switch (c.call) {
    case SysCall::open:
        return AT_OPEN;
    case SysCall::mmap:
        return AT_MMAP;
    case SysCall::munmap:
        return AT_MUNMAP;
    case SysCall::close:
        return AT_CLOSE;
    default:
        break;
    }
    if (c.request == FBIOGET_VSCREENINFO)
        return mode_reads++ == 0 ? AT_GET_VAR : AT_GET_AGAIN;
    if (c.request == FBIOGET_FSCREENINFO)
        return AT_GET_FIX;
    if (c.request == FBIOPUT_VSCREENINFO)
        return AT_PUT;
    fail("an ioctl request other than the three the tool uses");
}

void check_calls(const DeviceScript &s)
{
    const FakeFb &fb = fake_fb();
    int last = -1;
    int mode_reads = 0;
    for (const FakeCall &c : fb.calls) {
        const int at = order_of(c, mode_reads);
        check(at > last, "a call out of order, or made twice");
        last = at;
    }

    // One open, and its descriptor closed once; nothing else closed.
    const auto opens = fake_fb_calls(SysCall::open);
    const auto closes = fake_fb_calls(SysCall::close);
    check(opens.size() == 1, "not exactly one open");
    check(opens[0].path == "/dev/fb/0" && opens[0].flags == O_RDWR,
          "opened something else than /dev/fb/0 read-write");
    check((opens[0].result >= 0) == device_opens(s), "the device did not answer the open as told");
    if (opens[0].result >= 0) {
        check(closes.size() == 1 && closes[0].fd == opens[0].result,
              "the descriptor opened is not closed exactly once");
    } else {
        check(closes.empty(), "closed a descriptor the open did not give");
    }
    check(fb.open_fds.empty(), "a descriptor is left open");
    for (const FakeCall &c : fb.calls)
        if (c.call == SysCall::ioctl || c.call == SysCall::mmap)
            check(c.fd == opens[0].result, "a request on another descriptor than the one opened");

    // The mapping: asked once, for exactly the span of the mode found at
    // open, and unmapped with that same length.
    const auto maps = fake_fb_calls(SysCall::mmap);
    const auto unmaps = fake_fb_calls(SysCall::munmap);
    check(maps.size() == (asks_for_mapping(s) ? 1U : 0U), "not the one mapping the mode calls for");
    for (const FakeCall &m : maps) {
        check(m.len != 0, "asked for a mapping of 0 bytes");
        check(m.len <= UINT32_MAX, "asked for a mapping longer than 32 bits hold");
        check(m.len == span_of(s.var), "the mapping is not the span of the mode found at open");
        check(m.prot == (PROT_READ | PROT_WRITE) && m.flags == MAP_SHARED,
              "the mapping is not shared read-write");
    }
    const bool granted = gets_mapping(s);
    check(granted == (maps.size() == 1 && maps[0].addr != MAP_FAILED),
          "the device did not answer the mapping as told");
    check(unmaps.size() == (granted ? 1U : 0U), "the mapping is not unmapped exactly once");
    if (granted)
        check(unmaps[0].addr == maps[0].addr && unmaps[0].len == maps[0].len,
              "unmapped another span than the one mapped");

    // The mode: sent at most once, only when the depths differ, and as read
    // at open in everything but the depth.
    std::vector<FakeCall> puts;
    for (const FakeCall &c : fake_fb_calls(SysCall::ioctl))
        if (c.request == FBIOPUT_VSCREENINFO)
            puts.push_back(c);
    check(puts.size() <= 1, "more than one mode sent");
    check(puts.size() == (sends_mode(s) ? 1U : 0U), "a mode sent with nothing to change, or none");
    if (!puts.empty()) {
        fb_var_screeninfo want = s.var;
        want.bits_per_pixel = static_cast<std::uint32_t>(wanted_depth(s));
        check(std::memcmp(&puts[0].var, &want, sizeof want) == 0,
              "the mode sent differs from the one read at open in more than the depth");
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // Standard output and error go to the run's record, line by line.
    real_stderr = stderr;
    const cookie_io_functions_t out_io{nullptr, take_out, nullptr, nullptr};
    const cookie_io_functions_t err_io{nullptr, take_err, nullptr, nullptr};
    std::FILE *out = fopencookie(nullptr, "w", out_io);
    run_stderr = fopencookie(nullptr, "w", err_io);
    if (out == nullptr || run_stderr == nullptr ||
        std::setvbuf(out, nullptr, _IOLBF, BUFSIZ) != 0 ||
        std::setvbuf(run_stderr, nullptr, _IONBF, 0) != 0)
        std::abort();
    stdout = out;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    run = Run{};
    run.script = script_decode(data, size);
    const DeviceScript &s = run.script;
    set_up_device(s);

    std::vector<std::string> args{"pixvane"};
    if ((s.flags & SCRIPT_NO_ARGUMENT) == 0)
        args.push_back(s.argument);
    std::vector<char *> argv;
    argv.reserve(args.size() + 1);
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    stderr = run_stderr;
    const int status = pixvane_main(static_cast<int>(args.size()), argv.data());
    (void)std::fflush(stdout);
    stderr = real_stderr;
    fake_fb().observe = nullptr;

    check(status == 1, "exit status is not 1");
    check(run.err.empty(), "wrote on standard error");
    check(run.out.empty() || run.out.back() == '\n', "a line left without its newline");
    const Lines want = expected_lines(s);
    if (split_lines(run.out) != want)
        fail("the lines are not the ones this device calls for:\n" + joined(want));
    check_calls(s);
    check_memory(gets_mapping(s) ? RELEASED : CANARY, "after the run");
    check(run.unmapped == gets_mapping(s), "the span was not cleared and unmapped");
    spare_memory.swap(fake_fb().memory);
    return 0;
}
