#pragma once
// Cursor reader and growing writer for the security-key message codec. Every
// multi-byte field of those messages is big-endian, so Big is the default order.
#include <concepts>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <type_traits>

#include "runtime/Bytes.h"

namespace lumvane {

enum class Endian : int { Big = 0, Little = 1 };

// The integer types the reader and writer handle.
template <class T>
concept EndianInteger = std::same_as<T, uint8_t> || std::same_as<T, uint16_t> ||
    std::same_as<T, uint32_t> || std::same_as<T, uint64_t>;

// An enumeration backed by an EndianInteger raw value. Specialise with
//   using Raw = ...; static std::optional<E> fromRaw(Raw); static Raw toRaw(E);
template <class E>
struct EndianEnumTraits;

template <class E>
concept EndianEnum = requires(typename EndianEnumTraits<E>::Raw raw, E e) {
    { EndianEnumTraits<E>::fromRaw(raw) } -> std::same_as<std::optional<E>>;
    { EndianEnumTraits<E>::toRaw(e) } -> std::same_as<typename EndianEnumTraits<E>::Raw>;
};

enum class DataReaderErrorCode : int { End = 0, TypeError = 1 };

class DataReaderError : public std::runtime_error {
  public:
    explicit DataReaderError(DataReaderErrorCode code)
        : std::runtime_error(code == DataReaderErrorCode::End ? "DataReaderError.End"
                                                              : "DataReaderError.TypeError"),
          code_(code) {}
    DataReaderErrorCode code() const noexcept { return code_; }

  private:
    DataReaderErrorCode code_;
};

namespace endian_detail {
template <EndianInteger T>
T decode(const uint8_t* p, Endian order) {
    T value = 0;
    for (size_t i = 0; i < sizeof(T); ++i) {
        size_t index = order == Endian::Big ? i : sizeof(T) - 1 - i;
        value = static_cast<T>((sizeof(T) > 1 ? (value << 8) : 0) | p[index]);
    }
    return value;
}
template <EndianInteger T>
void encode(T value, Endian order, Bytes& out) {
    for (size_t i = 0; i < sizeof(T); ++i) {
        size_t shift = order == Endian::Big ? (sizeof(T) - 1 - i) * 8 : i * 8;
        out.push_back(static_cast<uint8_t>(static_cast<uint64_t>(value) >> shift));
    }
}
}  // namespace endian_detail

// Reads fields one after the other. A read that would run past the end throws
// DataReaderError(End) and leaves offset() where it was. The offset is kept within
// 0 and the length of the data, so no read can start outside the buffer.
class DataReader {
  public:
    explicit DataReader(Bytes data, int64_t offset = 0) : data_(std::move(data)) {
        setOffset(offset);
    }

    const Bytes& data() const { return data_; }
    int64_t offset() const { return offset_; }
    void setOffset(int64_t offset) {
        offset_ = offset < 0 ? 0 : std::min<int64_t>(offset, static_cast<int64_t>(data_.size()));
    }

    int64_t remaining() const { return static_cast<int64_t>(data_.size()) - offset_; }
    Bytes rest() const { return Bytes(data_.begin() + offset_, data_.end()); }

    template <EndianInteger T>
    std::optional<T> peek(Endian order = Endian::Big) const {
        if (remaining() < static_cast<int64_t>(sizeof(T))) return std::nullopt;
        return endian_detail::decode<T>(data_.data() + offset_, order);
    }
    template <EndianInteger T>
    T read(Endian order = Endian::Big) {
        auto value = peek<T>(order);
        if (!value) throw DataReaderError(DataReaderErrorCode::End);
        offset_ += static_cast<int64_t>(sizeof(T));
        return *value;
    }
    template <EndianInteger T>
    std::optional<T> tryRead() {
        try {
            return read<T>(Endian::Big);
        } catch (const DataReaderError&) {
            return std::nullopt;
        }
    }

    template <EndianEnum E>
    std::optional<E> peekRaw() const {
        auto raw = peek<typename EndianEnumTraits<E>::Raw>(Endian::Big);
        if (!raw) return std::nullopt;
        return EndianEnumTraits<E>::fromRaw(*raw);
    }
    // The raw value's bytes are consumed before its case is looked up, so a value
    // that names no case throws TypeError with the offset already moved.
    template <EndianEnum E>
    E readRaw() {
        using Raw = typename EndianEnumTraits<E>::Raw;
        Raw raw = read<Raw>(Endian::Big);
        auto value = EndianEnumTraits<E>::fromRaw(raw);
        if (!value) throw DataReaderError(DataReaderErrorCode::TypeError);
        return *value;
    }
    template <EndianEnum E>
    std::optional<E> tryReadRaw() {
        try {
            return readRaw<E>();
        } catch (const DataReaderError&) {
            return std::nullopt;
        }
    }

    // A negative count, or one beyond remaining(), gives nothing.
    template <std::integral N>
    std::optional<Bytes> peekData(N count) const {
        if constexpr (std::is_signed_v<N>) {
            if (count < 0) return std::nullopt;
        }
        if (static_cast<uint64_t>(count) > static_cast<uint64_t>(remaining())) return std::nullopt;
        auto begin = data_.begin() + offset_;
        return Bytes(begin, begin + static_cast<int64_t>(count));
    }
    template <std::integral N>
    Bytes readData(N count) {
        auto bytes = peekData(count);
        if (!bytes) throw DataReaderError(DataReaderErrorCode::End);
        offset_ += static_cast<int64_t>(bytes->size());
        return std::move(*bytes);
    }

  private:
    Bytes data_;
    int64_t offset_ = 0;
};

enum class CappedDataWriterError : int { MaxExceeded = 0 };

class CappedDataWriterException : public std::runtime_error {
  public:
    CappedDataWriterException() : std::runtime_error("CappedDataWriterError.MaxExceeded") {}
    CappedDataWriterError code() const noexcept { return CappedDataWriterError::MaxExceeded; }
};

// What both writers offer. The byte write is the one primitive; integers and raw
// enumeration values are appended through it.
class DataWriterProtocol {
  public:
    virtual ~DataWriterProtocol() = default;
    virtual const Bytes& buffer() const = 0;
    virtual void write(const Bytes& bytes) = 0;

    template <EndianInteger T>
    void write(T value, Endian order = Endian::Big) {
        Bytes bytes;
        endian_detail::encode(value, order, bytes);
        write(bytes);
    }
    template <EndianEnum E>
    void writeRaw(E value) {
        write(EndianEnumTraits<E>::toRaw(value), Endian::Big);
    }
};

class DataWriter : public DataWriterProtocol {
  public:
    using DataWriterProtocol::write;
    DataWriter() = default;
    const Bytes& buffer() const override { return buffer_; }
    void setBuffer(Bytes buffer) { buffer_ = std::move(buffer); }
    void write(const Bytes& bytes) override {
        buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
    }

  private:
    Bytes buffer_;
};

// Refuses (CappedDataWriterException) any write that would grow the buffer past max;
// a refused write leaves the buffer as it was.
class CappedDataWriter : public DataWriterProtocol {
  public:
    using DataWriterProtocol::write;
    explicit CappedDataWriter(int64_t max) : max_(max) {}
    int64_t max() const { return max_; }
    void setMax(int64_t max) { max_ = max; }
    const Bytes& buffer() const override { return writer_.buffer(); }
    bool isFull() const { return static_cast<int64_t>(buffer().size()) == max_; }
    void write(const Bytes& bytes) override {
        if (max_ < static_cast<int64_t>(buffer().size() + bytes.size()))
            throw CappedDataWriterException();
        writer_.write(bytes);
    }

  private:
    int64_t max_;
    DataWriter writer_;
};

}  // namespace lumvane
