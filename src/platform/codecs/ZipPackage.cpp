#include "platform/codecs/ZipPackage.h"

#include "platform/codecs/CodecError.h"
#include "platform/codecs/ReadLimits.h"

#include <zip.h>

#include <cstdio>

namespace platform::codecs {

namespace {

struct ErrorText {
    zip_error_t error;
    ErrorText() { zip_error_init(&error); }
    ~ErrorText() { zip_error_fini(&error); }
    ErrorText(const ErrorText&) = delete;
    ErrorText& operator=(const ErrorText&) = delete;
    std::string text() { return zip_error_strerror(&error); }
};

} // namespace

struct ZipReader::Impl {
    std::string data; // backs a reader opened from memory
    zip_t* archive = nullptr;
    ~Impl() {
        if (archive)
            zip_discard(archive);
    }
};

ZipReader::ZipReader(std::unique_ptr<Impl> impl)
    : d(std::move(impl)) {}
ZipReader::ZipReader(ZipReader&&) noexcept = default;
ZipReader& ZipReader::operator=(ZipReader&&) noexcept = default;
ZipReader::~ZipReader() = default;

ZipReader ZipReader::openFile(const std::string& path) {
    requireRegularFile(path);
    ErrorText error;
    zip_source_t* source = zip_source_file_create(path.c_str(), 0, -1, &error.error);
    if (!source)
        throw CodecError("Could not open '" + path + "': " + error.text());
    auto impl = std::make_unique<Impl>();
    impl->archive = zip_open_from_source(source, ZIP_RDONLY, &error.error);
    if (!impl->archive) {
        zip_source_free(source);
        throw CodecError("'" + path + "' is not a readable zip package: " + error.text());
    }
    return ZipReader(std::move(impl));
}

ZipReader ZipReader::openData(std::string data) {
    auto impl = std::make_unique<Impl>();
    impl->data = std::move(data);
    ErrorText error;
    zip_source_t* source = zip_source_buffer_create(impl->data.data(), impl->data.size(), 0, &error.error);
    if (!source)
        throw CodecError("Could not read the zip package: " + error.text());
    impl->archive = zip_open_from_source(source, ZIP_RDONLY, &error.error);
    if (!impl->archive) {
        zip_source_free(source);
        throw CodecError("The data is not a readable zip package: " + error.text());
    }
    return ZipReader(std::move(impl));
}

std::optional<std::string> ZipReader::read(std::string_view name, std::size_t limit) const {
    const std::string key(name);
    const zip_int64_t index = zip_name_locate(d->archive, key.c_str(), ZIP_FL_NOCASE);
    if (index < 0)
        return std::nullopt;
    zip_file_t* file = zip_fopen_index(d->archive, static_cast<zip_uint64_t>(index), 0);
    if (!file)
        throw CodecError("Could not open the package part '" + key +
                         "': " + zip_error_strerror(zip_get_error(d->archive)));
    std::string bytes;
    char chunk[64 * 1024];
    for (;;) {
        const zip_int64_t got = zip_fread(file, chunk, sizeof chunk);
        if (got < 0) {
            const std::string why = zip_error_strerror(zip_file_get_error(file));
            zip_fclose(file);
            throw CodecError("The package part '" + key + "' is damaged: " + why);
        }
        if (got == 0)
            break;
        if (bytes.size() + static_cast<std::size_t>(got) > limit) {
            zip_fclose(file);
            throw CodecError("The package part '" + key + "' is too large.");
        }
        bytes.append(chunk, static_cast<std::size_t>(got));
    }
    zip_fclose(file);
    return bytes;
}

void ZipWriter::add(std::string name, std::string data) {
    entries.push_back(Entry{std::move(name), std::move(data)});
}

std::string ZipWriter::finish() const {
    ErrorText error;
    zip_source_t* target = zip_source_buffer_create(nullptr, 0, 0, &error.error);
    if (!target)
        throw CodecError("Could not create the zip package: " + error.text());
    zip_t* archive = zip_open_from_source(target, ZIP_TRUNCATE, &error.error);
    if (!archive) {
        zip_source_free(target);
        throw CodecError("Could not create the zip package: " + error.text());
    }
    // The archive owns the target; keep it past zip_close to read the bytes back.
    zip_source_keep(target);
    auto fail = [&](const std::string& why) {
        zip_discard(archive);
        zip_source_free(target);
        throw CodecError("Could not create the zip package: " + why);
    };
    for (const Entry& entry : entries) {
        zip_source_t* source = zip_source_buffer(archive, entry.data.data(), entry.data.size(), 0);
        if (!source)
            fail(zip_strerror(archive));
        const zip_int64_t index = zip_file_add(archive, entry.name.c_str(), source, ZIP_FL_ENC_UTF_8);
        if (index < 0) {
            zip_source_free(source);
            fail(zip_strerror(archive));
        }
        zip_set_file_compression(archive, static_cast<zip_uint64_t>(index), ZIP_CM_DEFLATE, 0);
    }
    if (zip_close(archive) < 0)
        fail(zip_strerror(archive));

    std::string bytes;
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_source_stat(target, &stat) < 0 || !(stat.valid & ZIP_STAT_SIZE) || zip_source_open(target) < 0) {
        zip_source_free(target);
        throw CodecError("Could not read back the zip package.");
    }
    bytes.resize(stat.size);
    const zip_int64_t got = zip_source_read(target, bytes.data(), bytes.size());
    zip_source_close(target);
    zip_source_free(target);
    if (got < 0 || static_cast<zip_uint64_t>(got) != stat.size)
        throw CodecError("Could not read back the zip package.");
    return bytes;
}

} // namespace platform::codecs
