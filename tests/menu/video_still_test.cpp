// The boot picture on the video decoder: what the child sends, in which
// order it drives the decoder, and that it ends instead of returning.
#include "video_still.h"

#include <gtest/gtest.h>
#include <linux/dvb/video.h>

#include "fake_kernel.h"

namespace {

using namespace orbiel;

const std::string pes_header("\x00\x00\x01\xE0\x00\x00\x80\x00\x00", 9);
const std::string sequence_end("\x00\x00\x01\xB7", 4);
const std::string padding(8192, '\0');
const std::string sequence_start("\x00\x00\x01\xB3", 4);

using Requests = std::vector<std::pair<unsigned long, unsigned long>>;

class VideoDecoder : public ob_test::FakeDevice {
public:
    Requests requests;         // request, argument
    unsigned long refuse = 0;  // answered with EINVAL
    int ioctl(unsigned long request, void* arg) override {
        requests.emplace_back(request, reinterpret_cast<unsigned long>(arg));
        if (request != refuse) return 0;
        errno = EINVAL;
        return -1;
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

TEST_F(ShowIframeTest, ChildSendsThePictureFramedAsAPesPacketAndDrivesTheDecoder) {
    const std::string raw("\x00\x00\x01\xB3\x2D\x02\x40\x33\x01\x02\x03", 11);
    const std::string pes("\x00\x00\x01\xE0\x12\x34\x80\x00\x00\x00\x00\x01\xB3\x00\x00\x01\xB7",
                          17);
    std::string pes_cleared = pes;  // a PES packet goes as it is, its length cleared
    pes_cleared[4] = pes_cleared[5] = '\0';
    const std::string with_end("\x00\x00\x01\xB3\x00\x00\x01\xB7\x11", 9);
    const std::string three("\x00\x00\x01", 3);
    const std::string five("\x00\x00\x01\xE0\x07", 5);  // no length field to clear
    const std::pair<std::string, std::string> cases[] = {
        {raw, pes_header + raw + sequence_end},     {pes, pes_cleared},
        {with_end, pes_header + with_end},  // a sequence end anywhere counts
        {three, pes_header + three + sequence_end}, {five, pes_header + five + sequence_end},
    };
    for (const auto& c : cases) {
        decoder.written.clear();
        EXPECT_EQ(child(c.first), 0);
        EXPECT_EQ(decoder.written, c.second + padding) << c.first.size();
    }
    const Requests one_run = {{VIDEO_SET_STREAMTYPE, 0},
                              {VIDEO_SELECT_SOURCE, VIDEO_SOURCE_MEMORY},
                              {VIDEO_PLAY, 0},
                              {VIDEO_CONTINUE, 0},
                              {VIDEO_CLEAR_BUFFER, 0},
                              {VIDEO_STOP, 0},
                              {VIDEO_SELECT_SOURCE, VIDEO_SOURCE_DEMUX}};
    EXPECT_EQ(Requests(decoder.requests.begin(), decoder.requests.begin() + 7), one_run);
    // The pause lets the decoder show the picture before it is stopped.
    EXPECT_EQ(kernel.calls_starting("sleep(")[0], "sleep(30000)");
}

TEST_F(ShowIframeTest, RefusedRequestEndsTheChildWithStatusSix) {
    decoder.refuse = VIDEO_PLAY;
    EXPECT_EQ(child(sequence_start), 6);
    EXPECT_EQ(kernel.stderr_text, ob_test::error_line("ioctl", EINVAL));
    EXPECT_TRUE(decoder.written.empty());
}

TEST_F(ShowIframeTest, CallerReturnsAtOnceAndWithoutPictureOrDeviceStartsNoProcess) {
    kernel.write_file("/pic.mvi", sequence_start);
    EXPECT_EQ(showiframe("/pic.mvi"), 0);
    EXPECT_EQ(kernel.calls_starting("fork()").size(), 1u);
    EXPECT_TRUE(decoder.written.empty() && decoder.requests.empty());

    ob_test::FakeKernel bare;
    EXPECT_EQ(showiframe("/missing.mvi"), 4);
    bare.write_file("/pic.mvi", sequence_start);
    EXPECT_EQ(showiframe("/pic.mvi"), 2);
    EXPECT_EQ(bare.stderr_text, ob_test::error_line("/missing.mvi", ENOENT) +
                                    ob_test::error_line("/dev/dvb/adapter0/video0", ENOENT));
    EXPECT_TRUE(bare.calls_starting("fork()").empty());
}

}  // namespace
