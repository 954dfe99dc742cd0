// A boot still (.mvi) as the child hands it to the video decoder: wrapped in
// a PES header unless it has its own, ended by a sequence end.
#include "video_still.h"
#include "fuzz_box.h"

namespace {

class Decoder : public ob_test::FakeDevice {
public:
    int ioctl(unsigned long request, void*) override {
        ioctls.push_back(request);
        return 0;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ob_test::FakeKernel kernel;
    kernel.fork_result = 0;  // the child's side: the feeding itself
    Decoder& decoder = kernel.add_device(orbiel::video_device, std::make_unique<Decoder>());
    kernel.write_file("/media/ob/boot/bootlogo.mvi", ob_fuzz::bytes(data, size));
    ob_fuzz::run_to_end([] { orbiel::showiframe("/media/ob/boot/bootlogo.mvi"); });
    // The whole picture reaches the decoder, with at most a header and an end
    // added.
    if (decoder.written.size() < size) __builtin_trap();
    return 0;
}
