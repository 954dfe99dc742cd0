#include "video_still.h"

#include <fcntl.h>
#include <linux/dvb/video.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <memory>

#include "control_file.h"
#include "kernel.h"

namespace orbiel {

namespace {

// A packetised elementary stream header for video stream E0 with length 0
// (unbounded), in front of a raw elementary stream.
const unsigned char pes_header[9] = {0x00, 0x00, 0x01, 0xE0, 0x00, 0x00, 0x80, 0x00, 0x00};
const unsigned char sequence_end[4] = {0x00, 0x00, 0x01, 0xB7};
// Zeros that push the last picture through the decoder's input buffer.
constexpr size_t padding_size = 8192;
// Boot stills are a few hundred kilobytes; anything far larger is not one,
// and the child must not try to hold it in memory.
constexpr off_t largest_picture = 16 * 1024 * 1024;

// The exit status of a child whose decoder request was refused.
constexpr int refused_status = 6;

struct DecoderRequest {
    unsigned long request;
    unsigned long argument;
};

// From the demultiplexer to memory input, playing, with an empty buffer.
const DecoderRequest take_decoder[] = {
    {VIDEO_SELECT_SOURCE, VIDEO_SOURCE_MEMORY},
    {VIDEO_PLAY, 0},
    {VIDEO_CONTINUE, 0},
    {VIDEO_CLEAR_BUFFER, 0},
};
// Stopped with the last picture kept on screen, back to the demultiplexer.
const DecoderRequest hand_back_decoder[] = {
    {VIDEO_STOP, 0},
    {VIDEO_SELECT_SOURCE, VIDEO_SOURCE_DEMUX},
};

int request(int video, unsigned long req, unsigned long argument) {
    return ob::kernel().ioctl(video, req,
                              reinterpret_cast<void*>(static_cast<uintptr_t>(argument)));
}

template <size_t N>
void run_or_end_child(int video, const DecoderRequest (&requests)[N]) {
    for (const DecoderRequest& r : requests) {
        if (request(video, r.request, r.argument) < 0) {
            ob::print_error("ioctl");
            ob::kernel().exit_now(refused_status);
        }
    }
}

bool holds_sequence_end(const unsigned char* data, size_t size) {
    for (size_t i = 0; i + sizeof sequence_end <= size; ++i) {
        if (memcmp(data + i, sequence_end, sizeof sequence_end) == 0) return true;
    }
    return false;
}

// A file that already starts with a video PES header (stream E0..EF) is sent
// as it is, with its packet length cleared so the decoder reads on to the
// end; anything else gets our header in front. A file too short to hold the
// length field is no PES packet.
bool starts_with_video_pes(const unsigned char* data, size_t size) {
    return size >= 6 && (data[3] & 0xF0) == 0xE0;
}

size_t read_whole(int fd, unsigned char* data, size_t size) {
    size_t got = 0;
    while (got < size) {
        ssize_t n = ob::kernel().read(fd, data + got, size - got);
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    return got;
}

void feed_decoder(int picture, int video, size_t size) {
    std::unique_ptr<unsigned char, decltype(&free)> buffer(
        static_cast<unsigned char*>(malloc(size > 0 ? size : 1)), &free);
    unsigned char* data = buffer.get();
    if (data == nullptr) {
        ob::print_error("malloc");
        ob::kernel().exit_now(1);
    }
    size = read_whole(picture, data, size);

    request(video, VIDEO_SET_STREAMTYPE, 0);
    run_or_end_child(video, take_decoder);

    bool has_end = holds_sequence_end(data, size);
    if (starts_with_video_pes(data, size)) {
        data[4] = 0;
        data[5] = 0;
    } else {
        ob::kernel().write(video, pes_header, sizeof pes_header);
    }
    ob::kernel().write(video, data, size);
    if (!has_end) ob::kernel().write(video, sequence_end, sizeof sequence_end);
    static const unsigned char padding[padding_size] = {};
    ob::kernel().write(video, padding, sizeof padding);
    ob::kernel().sleep_us(30000);

    run_or_end_child(video, hand_back_decoder);
    // The child's work ends here: returning would run the rest of the menu a
    // second time beside the parent.
    ob::kernel().exit_now(0);
}

}  // namespace

int showiframe(const char* path) {
    int picture = ob::open_regular_file(path);  // never waits on a FIFO
    if (picture < 0) {
        ob::print_error(path);
        return 4;
    }
    struct stat st;
    if (ob::kernel().fstat(picture, &st) < 0) st.st_size = 0;
    if (st.st_size > largest_picture) {
        ob::printf_to(2, "%s: too large for a boot picture (%lld bytes)\n", path,
                      static_cast<long long>(st.st_size));
        ob::kernel().close(picture);
        return 4;
    }
    int video = ob::kernel().open(video_device, O_WRONLY);
    if (video <= 0) {
        ob::print_error(video_device);
        ob::kernel().close(picture);
        return 2;
    }
    if (ob::kernel().fork() == 0) feed_decoder(picture, video, static_cast<size_t>(st.st_size));
    // The child holds its own copies of both descriptors.
    ob::kernel().close(picture);
    ob::kernel().close(video);
    return 0;
}

}  // namespace orbiel
