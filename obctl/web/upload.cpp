#include "upload.h"

#include <string.h>

#include <algorithm>

namespace obctl {

UploadStream::UploadStream() : ring_(blocks, std::vector<char>(block_size)), filled_(blocks) {}

void UploadStream::commit_locked() {
    filled_[(head_ + count_) % blocks] = filling_;
    ++count_;
    filling_ = 0;
    changed_.notify_all();
}

bool UploadStream::put(const char* data, size_t size) {
    std::unique_lock<std::mutex> hold(lock_);
    while (size > 0) {
        changed_.wait(hold, [&] { return reader_gone_ || count_ + (handing_ ? 1 : 0) < blocks; });
        if (reader_gone_) return false;
        std::vector<char>& block = ring_[(head_ + count_) % blocks];
        const size_t part = std::min(size, block_size - filling_);
        memcpy(block.data() + filling_, data, part);
        filling_ += part;
        data += part;
        size -= part;
        if (filling_ == block_size) commit_locked();
    }
    return true;
}

void UploadStream::end() {
    std::lock_guard<std::mutex> hold(lock_);
    if (filling_ > 0) commit_locked();
    ended_ = true;
    changed_.notify_all();
}

void UploadStream::cut(const std::string& why) {
    std::lock_guard<std::mutex> hold(lock_);
    if (ended_ && count_ == 0) return;
    cut_ = why;
    changed_.notify_all();
}

void UploadStream::reader_gone() {
    std::lock_guard<std::mutex> hold(lock_);
    reader_gone_ = true;
    changed_.notify_all();
}

long UploadStream::next(const void** block) {
    std::unique_lock<std::mutex> hold(lock_);
    if (handing_) {
        handing_ = false;
        changed_.notify_all();
    }
    changed_.wait(hold, [&] { return count_ > 0 || ended_ || !cut_.empty(); });
    if (!cut_.empty()) return -1;
    if (count_ == 0) return 0;
    *block = ring_[head_].data();
    const long size = static_cast<long>(filled_[head_]);
    head_ = (head_ + 1) % blocks;
    --count_;
    handing_ = true;
    return size;
}

std::string UploadStream::why() const {
    std::lock_guard<std::mutex> hold(lock_);
    return cut_;
}

UploadAdd::UploadAdd(unsigned id, const Medium& medium, const AddRequest& request,
                     const std::string& file, uint64_t size, const std::string& client)
    : id_(id), medium_(medium), request_(request), file_(file), client_(client) {
    progress_.phase = "waiting";
    progress_.total = size;
}

UploadAdd::~UploadAdd() { cut("the server stopped"); }

Outcome UploadAdd::can_start() {
    lock_.reset(new MediumLock);
    std::string error;
    if (!lock_->try_take(medium_, true, error)) return outcome(Outcome::busy, error);
    return add_can_start(medium_, request_, *this);
}

bool UploadAdd::start(const volatile sig_atomic_t& stop) {
    constexpr size_t stack = 1024 * 1024;
    stop_ = &stop;
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, stack);
    running_ = pthread_create(&thread_, &attributes, run_thread, this) == 0;
    pthread_attr_destroy(&attributes);
    if (!running_) lock_.reset();
    return running_;
}

void* UploadAdd::run_thread(void* self) {
    static_cast<UploadAdd*>(self)->run();
    return nullptr;
}

void UploadAdd::run() {
    ImageSource source;
    std::string error;
    Outcome result;
    if (!source.open_stream(stream_, file_, progress_.total, error)) {
        const std::string broken = stream_.why();
        result = broken.empty() ? outcome(Outcome::refused, error)
                                : outcome(Outcome::failed, broken + "; nothing added");
    } else {
        result = add_image(medium_, request_, source, *this, *stop_);
    }
    stream_.reader_gone();
    lock_.reset();
    std::lock_guard<std::mutex> hold(progress_lock_);
    progress_.phase = "done";
    progress_.finished = true;
    progress_.verdict = result;
}

bool UploadAdd::put(const char* data, size_t size) {
    {
        std::lock_guard<std::mutex> hold(progress_lock_);
        progress_.received += size;
    }
    return stream_.put(data, size);
}

Outcome UploadAdd::wait() {
    {
        std::lock_guard<std::mutex> hold(join_lock_);
        if (running_) pthread_join(thread_, nullptr);
        running_ = false;
    }
    std::lock_guard<std::mutex> hold(progress_lock_);
    return progress_.verdict;
}

Outcome UploadAdd::finish() {
    stream_.end();
    return wait();
}

Outcome UploadAdd::cut(const std::string& why) {
    stream_.cut(why);
    return wait();
}

void UploadAdd::phase(Phase now) {
    static const char* const names[] = {"cleaning", "unpacking", "checking", "placing"};
    std::lock_guard<std::mutex> hold(progress_lock_);
    progress_.phase = names[static_cast<int>(now)];
}

void UploadAdd::unpacked(uint64_t, uint64_t, uint64_t bytes, uint64_t files) {
    std::lock_guard<std::mutex> hold(progress_lock_);
    progress_.bytes = bytes;
    progress_.files = files;
}

void UploadAdd::note(const std::string& line) {
    std::lock_guard<std::mutex> hold(progress_lock_);
    if (progress_.notes.size() < 32) progress_.notes.push_back(line);
}

UploadAdd::Progress UploadAdd::progress() const {
    std::lock_guard<std::mutex> hold(progress_lock_);
    return progress_;
}

std::string UploadAdd::description() const {
    return "an upload of " + file_ + " from " + client_ + " (obctl serve)";
}

Json UploadAdd::progress_json() const {
    const Progress now = progress();
    Json notes = Json::array();
    for (const std::string& line : now.notes)
        notes.push_back(json_text(line));
    Json answer;
    answer["id"] = id_;
    answer["file"] = json_text(file_);
    answer["name"] = json_text(request_.slot.empty() ? request_.name : request_.slot);
    answer["client"] = json_text(client_);
    answer["phase"] = now.phase;
    answer["received"] = now.received;
    answer["total"] = now.total;
    answer["bytes"] = now.bytes;
    answer["files"] = now.files;
    answer["notes"] = std::move(notes);
    answer["finished"] = now.finished;
    if (now.finished)
        answer["verdict"] = {{"status", http_status(now.verdict)},
                             {"message", json_text(now.verdict.message)}};
    else
        answer["verdict"] = nullptr;
    return answer;
}

int http_status(const Outcome& result) {
    switch (result.kind) {
        case Outcome::done:
            return 200;
        case Outcome::unknown:
            return 400;
        case Outcome::refused:
            return 422;
        case Outcome::not_found:
            return 404;
        case Outcome::in_use:
        case Outcome::busy:
            return 409;
        case Outcome::too_large:
            return 413;
        case Outcome::failed:
            break;
    }
    return 500;
}

}  // namespace obctl
