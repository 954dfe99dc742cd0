// An image installed from an upload: the request's body goes block by block
// through a few blocks of memory straight into add's unpacking, which runs
// on a thread of its own. Nothing of the archive is stored, on the medium or
// in memory, beyond the blocks in flight.
#pragma once

#include <pthread.h>
#include <signal.h>
#include <stdint.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "add_watch.h"
#include "image_source.h"
#include "json.h"
#include "medium_dir.h"
#include "operations.h"

namespace obctl {

// The body as it arrives, in blocks the unpacking reads in order. The
// server's thread puts, waiting while all blocks are full; the add's thread
// takes.
class UploadStream : public ByteStream {
public:
    static constexpr size_t block_size = 64 * 1024;
    static constexpr size_t blocks = 8;

    UploadStream();
    long next(const void** block) override;
    std::string why() const override;

    // Copies data in; false when the reader has gone (the add ended) and
    // nothing more will be read.
    bool put(const char* data, size_t size);
    // The body is complete.
    void end();
    // The body broke off (the client went, the connection timed out).
    void cut(const std::string& why);
    // The reader takes no more.
    void reader_gone();

private:
    void commit_locked();

    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::vector<std::vector<char>> ring_;
    std::vector<size_t> filled_;  // bytes in each block
    size_t head_ = 0;             // the next block to hand out
    size_t count_ = 0;            // committed blocks not yet handed out
    size_t filling_ = 0;          // bytes in the block after the committed ones
    bool handing_ = false;        // the reader has the block before head_
    bool ended_ = false;
    bool reader_gone_ = false;
    std::string cut_;
};

// One add from an upload, from its request's headers to its verdict.
class UploadAdd : private AddWatch {
public:
    struct Progress {
        std::string phase;  // "waiting", "cleaning", "unpacking", "checking", "placing", "done"
        uint64_t received = 0, total = 0, bytes = 0, files = 0;
        std::vector<std::string> notes;
        bool finished = false;
        Outcome verdict;
    };

    // id: a number that tells this add from the ones before it.
    UploadAdd(unsigned id, const Medium& medium, const AddRequest& request, const std::string& file,
              uint64_t size, const std::string& client);
    ~UploadAdd();
    UploadAdd(const UploadAdd&) = delete;
    UploadAdd& operator=(const UploadAdd&) = delete;

    // The medium's lock, taken exclusively unless another holds it, and the
    // add_can_start checks. The lock is held until the add ends.
    Outcome can_start();
    // Starts the unpacking thread; it reads what put() hands in. False when
    // no thread can be made.
    bool start(const volatile sig_atomic_t& stop);
    bool put(const char* data, size_t size);
    // The body is complete, or broke off; both wait for the verdict.
    Outcome finish();
    Outcome cut(const std::string& why);

    Progress progress() const;
    // "an upload of nightly.tar.xz from 192.168.1.20"
    std::string description() const;
    Json progress_json() const;

private:
    void phase(Phase now) override;
    void unpacked(uint64_t input_done, uint64_t input_total, uint64_t bytes,
                  uint64_t files) override;
    void note(const std::string& line) override;
    static void* run_thread(void* self);
    void run();
    Outcome wait();

    unsigned id_;
    const Medium& medium_;  // the server's
    std::unique_ptr<MediumLock> lock_;
    AddRequest request_;
    std::string file_;
    std::string client_;
    UploadStream stream_;
    const volatile sig_atomic_t* stop_ = nullptr;
    // The unpacking's thread: a pthread for the stack size it needs (musl's
    // default is 128 KiB).
    pthread_t thread_;
    bool running_ = false;
    std::mutex join_lock_;  // the request's thread and a stopping server may both wait
    mutable std::mutex progress_lock_;
    Progress progress_;
};

// The HTTP status an outcome answers with.
int http_status(const Outcome& result);

}  // namespace obctl
