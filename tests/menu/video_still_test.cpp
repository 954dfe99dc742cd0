// The boot picture on the video decoder: what the child sends, in which
// order it drives the decoder, and that it ends instead of returning.
#include "video_still.h"

#include <gtest/gtest.h>
#include <linux/dvb/video.h>
#include <sys/ioctl.h>

#include "fake_kernel.h"

namespace {

using namespace orbiel;

#if defined(__mips__)
// The box's request numbers (MIPS encoding), as the decoder driver knows them.
static_assert(VIDEO_SET_STREAMTYPE == 0x20006F24, "MIPS request encoding");
static_assert(VIDEO_SELECT_SOURCE == 0x20006F19, "MIPS request encoding");
static_assert(VIDEO_PLAY == 0x20006F16, "MIPS request encoding");
static_assert(VIDEO_CONTINUE == 0x20006F18, "MIPS request encoding");
static_assert(VIDEO_CLEAR_BUFFER == 0x20006F22, "MIPS request encoding");
static_assert(VIDEO_STOP == 0x20006F15, "MIPS request encoding");
#endif

const std::string pes_header("\x00\x00\x01\xE0\x00\x00\x80\x00\x00", 9);
const std::string sequence_end("\x00\x00\x01\xB7", 4);
const std::string padding(8192, '\0');
const std::string sequence_start("\x00\x00\x01\xB3", 4);

class VideoDecoder : public ob_test::FakeDevice {
public:
    struct Request {
        unsigned long request;
        unsigned long argument;
        bool operator==(const Request& o) const {
            return request == o.request && argument == o.argument;
        }
    };
    std::vector<Request> requests;
    unsigned long refuse = 0;  // a request answered with EINVAL
    int ioctl(unsigned long request, void* arg) override {
        requests.push_back({request, reinterpret_cast<unsigned long>(arg)});
        if (request == refuse) {
            errno = EINVAL;
            return -1;
        }
        return 0;
    }
};

class ShowIframeTest : public ::testing::Test {
protected:
    ob_test::FakeKernel kernel;
    VideoDecoder& decoder = kernel.add_device(video_device, std::make_unique<VideoDecoder>());

    // Runs showiframe as the child; returns the child's exit status.
    int child(const std::string& picture) {
        kernel.write_file("/pic.mvi", picture);
        kernel.fork_result = 0;
        try {
            showiframe("/pic.mvi");
        } catch (const ob_test::ExitCalled& e) {
            EXPECT_TRUE(e.immediate) << "the child must end with _exit";
            return e.status;
        }
        ADD_FAILURE() << "the child returned into the menu";
        return -1;
    }
};

TEST_F(ShowIframeTest, RawStreamGetsAHeaderASequenceEndAndPadding) {
    const std::string picture("\x00\x00\x01\xB3\x2D\x02\x40\x33\x01\x02\x03", 11);
    EXPECT_EQ(child(picture), 0);
    EXPECT_EQ(decoder.written, pes_header + picture + sequence_end + padding);
    const std::vector<VideoDecoder::Request> expected = {{VIDEO_SET_STREAMTYPE, 0},
                                                         {VIDEO_SELECT_SOURCE, VIDEO_SOURCE_MEMORY},
                                                         {VIDEO_PLAY, 0},
                                                         {VIDEO_CONTINUE, 0},
                                                         {VIDEO_CLEAR_BUFFER, 0},
                                                         {VIDEO_STOP, 0},
                                                         {VIDEO_SELECT_SOURCE, VIDEO_SOURCE_DEMUX}};
    EXPECT_EQ(decoder.requests, expected);
    // The pause lets the decoder show the picture before it is stopped.
    EXPECT_EQ(kernel.calls_starting("sleep("), std::vector<std::string>{"sleep(30000)"});
}

TEST_F(ShowIframeTest, PesPacketIsSentAsItIsWithItsLengthCleared) {
    const std::string picture(
        "\x00\x00\x01\xE0\x12\x34\x80\x00\x00\x00\x00\x01\xB3\x00\x00\x01\xB7", 17);
    EXPECT_EQ(child(picture), 0);
    std::string cleared = picture;
    cleared[4] = cleared[5] = '\0';
    EXPECT_EQ(decoder.written, cleared + padding);
}

TEST_F(ShowIframeTest, SequenceEndAnywhereInsideCountsAndShortFilesGetOne) {
    const std::string with_end("\x00\x00\x01\xB3\x00\x00\x01\xB7\x11", 9);
    EXPECT_EQ(child(with_end), 0);
    EXPECT_EQ(decoder.written, pes_header + with_end + padding);

    decoder.written.clear();
    const std::string three("\x00\x00\x01", 3);
    EXPECT_EQ(child(three), 0);
    EXPECT_EQ(decoder.written, pes_header + three + sequence_end + padding);

    // Five bytes that look like a PES start have no length field to clear.
    decoder.written.clear();
    const std::string five("\x00\x00\x01\xE0\x07", 5);
    EXPECT_EQ(child(five), 0);
    EXPECT_EQ(decoder.written, pes_header + five + sequence_end + padding);
}

TEST_F(ShowIframeTest, RefusedRequestEndsTheChildWithStatusSix) {
    decoder.refuse = VIDEO_PLAY;
    EXPECT_EQ(child(sequence_start), 6);
    EXPECT_EQ(kernel.stderr_text, "ioctl: Invalid argument\n");
    EXPECT_TRUE(decoder.written.empty());
}

TEST_F(ShowIframeTest, CallerReturnsAtOnceWithoutWaiting) {
    kernel.write_file("/pic.mvi", sequence_start);
    EXPECT_EQ(showiframe("/pic.mvi"), 0);
    EXPECT_EQ(kernel.calls_starting("fork()").size(), 1u);
    EXPECT_TRUE(decoder.written.empty());
    EXPECT_TRUE(decoder.requests.empty());
}

TEST(ShowIframe, MissingPictureOrDeviceStartsNoProcess) {
    ob_test::FakeKernel kernel;
    EXPECT_EQ(showiframe("/missing.mvi"), 4);
    kernel.write_file("/pic.mvi", sequence_start);
    EXPECT_EQ(showiframe("/pic.mvi"), 2);
    EXPECT_EQ(kernel.stderr_text,
              "/missing.mvi: No such file or directory\n"
              "/dev/dvb/adapter0/video0: No such file or directory\n");
    EXPECT_TRUE(kernel.calls_starting("fork()").empty());
}

}  // namespace
