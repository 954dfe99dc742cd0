#include "stream_decoder.h"

#include <archive.h>
#include <string.h>
#include <zlib.h>

namespace obctl {

namespace {

struct Magic {
    const char* bytes;
    size_t size;
    Compression compression;
};

// gzip, bzip2, xz and zstd are what image archives come in; the others are
// named so that their refusal says what the archive is.
const Magic magics[] = {
    {"\x1f\x8b", 2, {"gzip", true}},
    {"BZh", 3, {"bzip2", true}},
    {"\xfd"
     "7zXZ\0",
     6,
     {"xz", true}},
    {"\x28\xb5\x2f\xfd", 4, {"zstd", true}},
    {"LZIP", 4, {"lzip", false}},
    {"\x04\x22\x4d\x18", 4, {"lz4", false}},
    {"LRZI", 4, {"lrzip", false}},
    {"\x89LZO\0", 5, {"lzop", false}},
    {"\x1f\x9d", 2, {"compress (.Z)", false}},
    {"\x5d\0\0", 3, {"lzma", false}},
    {"GRZipII", 7, {"grzip", false}},
    {"7z\xbc\xaf\x27\x1c", 6, {"7-Zip", false}},
    {"Rar!", 4, {"RAR", false}},
    {"\xed\xab\xee\xdb", 4, {"RPM", false}},
    {"begin ", 6, {"uuencode", false}},
};

// Passes the bytes as they come: a tar without compression.
class PlainDecoder : public StreamDecoder {
public:
    explicit PlainDecoder(ByteStream& input) : input_(input) {}
    long decode(char* buf, size_t size) override {
        while (left_ == 0) {
            const long got = input_.next(&block_);
            if (got <= 0) return got;
            left_ = static_cast<size_t>(got);
        }
        const size_t n = left_ < size ? left_ : size;
        memcpy(buf, block_, n);
        block_ = static_cast<const char*>(block_) + n;
        left_ -= n;
        return static_cast<long>(n);
    }
    std::string why() const override { return input_.why(); }

private:
    ByteStream& input_;
    const void* block_ = nullptr;
    size_t left_ = 0;
};

// gzip through zlib, which checks each member's CRC and length in its
// trailer (libarchive's reader does not). Members may follow each other;
// zeros after the last are padding; anything else is refused, as gzip -t
// refuses it.
class GzipDecoder : public StreamDecoder {
public:
    explicit GzipDecoder(ByteStream& input) : input_(input) {
        ready_ = inflateInit2(&z_, 16 + MAX_WBITS) == Z_OK;
        if (!ready_) why_ = "no memory for the gzip decoder";
    }
    ~GzipDecoder() override {
        if (ready_) inflateEnd(&z_);
    }
    GzipDecoder(const GzipDecoder&) = delete;
    GzipDecoder& operator=(const GzipDecoder&) = delete;

    long decode(char* buf, size_t size) override {
        if (!ready_) return -1;
        z_.next_out = reinterpret_cast<Bytef*>(buf);
        z_.avail_out = static_cast<uInt>(size);
        while (z_.avail_out == size && !ended_) {
            if (z_.avail_in == 0 && !refill()) return -1;
            if (z_.avail_in == 0) {
                if (in_member_) return broken("it ends before its gzip stream does");
                ended_ = true;
                break;
            }
            if (!in_member_ && !start_member()) return -1;
            if (!in_member_) continue;
            const int status = inflate(&z_, Z_NO_FLUSH);
            if (status == Z_STREAM_END) {
                in_member_ = false;
            } else if (status != Z_OK && status != Z_BUF_ERROR) {
                return broken(z_.msg != nullptr ? std::string("gzip data: ") + z_.msg
                                                : "damaged gzip data");
            }
        }
        return static_cast<long>(size - z_.avail_out);
    }
    std::string why() const override { return why_; }

private:
    long broken(const std::string& text) {
        why_ = text;
        return -1;
    }
    bool refill() {
        const void* block = nullptr;
        const long got = input_.next(&block);
        if (got < 0) {
            why_ = input_.why();
            return false;
        }
        z_.next_in = static_cast<Bytef*>(const_cast<void*>(block));
        z_.avail_in = static_cast<uInt>(got);
        return true;
    }
    // At a member's start: another member, or padding to the end.
    bool start_member() {
        if (z_.next_in[0] == 0x1f) {
            if (members_++ > 0 && inflateReset(&z_) != Z_OK) {
                broken("the gzip decoder cannot start the next member");
                return false;
            }
            in_member_ = true;
            return true;
        }
        while (z_.avail_in > 0 && z_.next_in[0] == 0) {
            ++z_.next_in;
            --z_.avail_in;
        }
        if (z_.avail_in == 0) return true;
        broken("it holds other data after its gzip stream");
        return false;
    }

    ByteStream& input_;
    z_stream z_ = {};
    bool ready_ = false;
    bool in_member_ = false;
    bool ended_ = false;
    int members_ = 0;
    std::string why_;
};

// bzip2, xz and zstd through libarchive's own decoders, one registered at a
// time (a registration that would fall back to an outside program is
// refused).
class LibarchiveDecoder : public StreamDecoder {
public:
    explicit LibarchiveDecoder(ByteStream& input) : input_(input), a_(archive_read_new()) {
        archive_read_support_format_raw(a_);
    }
    ~LibarchiveDecoder() override { archive_read_free(a_); }
    LibarchiveDecoder(const LibarchiveDecoder&) = delete;
    LibarchiveDecoder& operator=(const LibarchiveDecoder&) = delete;

    bool open(const char* name, std::string& error) {
        int (*support)(archive*) = nullptr;
        if (strcmp(name, "bzip2") == 0) support = archive_read_support_filter_bzip2;
        if (strcmp(name, "xz") == 0) support = archive_read_support_filter_xz;
        if (strcmp(name, "zstd") == 0) support = archive_read_support_filter_zstd;
        if (support == nullptr || support(a_) != ARCHIVE_OK) {
            error = std::string("this obctl was built without ") + name;
            return false;
        }
        archive_entry* whole = nullptr;
        if (archive_read_open(a_, this, nullptr, read, nullptr) != ARCHIVE_OK ||
            archive_read_next_header(a_, &whole) != ARCHIVE_OK) {
            error = why();
            return false;
        }
        return true;
    }
    long decode(char* buf, size_t size) override {
        const la_ssize_t got = archive_read_data(a_, buf, size);
        return got < 0 ? -1 : static_cast<long>(got);
    }
    std::string why() const override {
        const char* text = archive_error_string(a_);
        if (text != nullptr) return text;
        return input_.why().empty() ? "damaged data" : input_.why();
    }

private:
    static la_ssize_t read(archive*, void* self, const void** block) {
        return static_cast<LibarchiveDecoder*>(self)->input_.next(block);
    }
    ByteStream& input_;
    archive* a_;
};

}  // namespace

Compression compression_of(const std::string& head) {
    for (const Magic& magic : magics)
        if (head.size() >= magic.size && head.compare(0, magic.size, magic.bytes, magic.size) == 0)
            return magic.compression;
    return {"", true};
}

bool is_zip(const std::string& head) { return head.compare(0, 4, "PK\x03\x04", 4) == 0; }

std::unique_ptr<StreamDecoder> new_decoder(const Compression& compression, ByteStream& input,
                                           std::string& error) {
    if (!compression.readable) {
        error = std::string("compressed with ") + compression.name +
                ", which obctl does not read (gzip, bzip2, xz and zstd it does)";
        return nullptr;
    }
    if (compression.name[0] == '\0') return std::unique_ptr<StreamDecoder>(new PlainDecoder(input));
    if (strcmp(compression.name, "gzip") == 0)
        return std::unique_ptr<StreamDecoder>(new GzipDecoder(input));
    std::unique_ptr<LibarchiveDecoder> decoder(new LibarchiveDecoder(input));
    if (!decoder->open(compression.name, error)) return nullptr;
    return std::unique_ptr<StreamDecoder>(decoder.release());
}

}  // namespace obctl
