#include <gtest/gtest.h>

#include "U2FTestSupport.h"
#include "u2f/APDUResponse.h"
#include "u2f/DataReader.h"

using namespace lumvane;
using namespace lumvane::u2ftest;

namespace {

DataReaderErrorCode readerError(const std::function<void()>& f) {
    try {
        f();
    } catch (const DataReaderError& e) {
        return e.code();
    }
    ADD_FAILURE() << "no DataReaderError";
    return DataReaderErrorCode::End;
}

TEST(DataReader, IntegersReadInEitherOrderBigByDefault) {
    DataReader reader(hex("1234"));
    EXPECT_EQ(reader.peek<uint16_t>(), 0x1234);
    EXPECT_EQ(reader.peek<uint16_t>(Endian::Little), 0x3412);
    EXPECT_EQ(reader.read<uint16_t>(), 0x1234);
    EXPECT_EQ(reader.offset(), 2);

    DataReader wide(hex("0102030405060708"));
    EXPECT_EQ(wide.read<uint32_t>(Endian::Little), 0x04030201u);
    EXPECT_EQ(wide.read<uint8_t>(), 0x05);
    EXPECT_EQ(wide.remaining(), 3);
    DataReader u64(hex("0102030405060708"));
    EXPECT_EQ(u64.read<uint64_t>(), 0x0102030405060708ull);
}

TEST(DataReader, ReadPastEndThrowsEndAndKeepsOffset) {
    DataReader reader(hex("aabbcc"), 2);
    EXPECT_EQ(readerError([&] { reader.read<uint16_t>(); }), DataReaderErrorCode::End);
    EXPECT_EQ(reader.offset(), 2);
    EXPECT_EQ(reader.remaining(), 1);
    EXPECT_FALSE(reader.tryRead<uint16_t>().has_value());
    EXPECT_EQ(reader.tryRead<uint8_t>(), 0xcc);
    EXPECT_TRUE(reader.rest().empty());
}

TEST(DataReader, RawEnumConsumesBytesBeforeCaseLookup) {
    DataReader bad(hex("1234"));
    EXPECT_FALSE(bad.peekRaw<ResponseStatus>().has_value());
    EXPECT_EQ(readerError([&] { bad.readRaw<ResponseStatus>(); }), DataReaderErrorCode::TypeError);
    EXPECT_EQ(bad.offset(), 2);

    DataReader good(hex("9000"));
    EXPECT_EQ(good.peekRaw<ResponseStatus>(), ResponseStatus::NoError);
    EXPECT_EQ(good.readRaw<ResponseStatus>(), ResponseStatus::NoError);
    EXPECT_EQ(good.remaining(), 0);

    DataReader shortRaw(hex("90"));
    EXPECT_EQ(readerError([&] { shortRaw.readRaw<ResponseStatus>(); }), DataReaderErrorCode::End);
    EXPECT_EQ(shortRaw.offset(), 0);
    EXPECT_FALSE(shortRaw.tryReadRaw<ResponseStatus>().has_value());
}

TEST(DataReader, ReadDataCountsAndBounds) {
    DataReader reader(hex("0102030405"), 1);
    EXPECT_TRUE(reader.readData(0).empty());
    EXPECT_EQ(reader.offset(), 1);
    EXPECT_EQ(reader.peekData(2u), hex("0203"));
    EXPECT_EQ(reader.offset(), 1);
    EXPECT_EQ(readerError([&] { reader.readData(5); }), DataReaderErrorCode::End);
    EXPECT_EQ(reader.offset(), 1);
    // A negative count is refused rather than turned into a huge one.
    EXPECT_FALSE(reader.peekData(-1).has_value());
    EXPECT_EQ(readerError([&] { reader.readData(int64_t{-3}); }), DataReaderErrorCode::End);
    EXPECT_EQ(reader.readData(uint16_t{4}), hex("02030405"));
    EXPECT_TRUE(reader.rest().empty());
}

TEST(DataReader, OffsetIsKeptInsideTheData) {
    DataReader reader(hex("0102"), 7);
    EXPECT_EQ(reader.offset(), 2);
    EXPECT_EQ(reader.remaining(), 0);
    reader.setOffset(-4);
    EXPECT_EQ(reader.offset(), 0);
    EXPECT_EQ(reader.read<uint16_t>(), 0x0102);
}

TEST(DataWriter, WritesIntegersBytesAndRawValues) {
    DataWriter writer;
    writer.write(uint32_t{0x01020304});
    writer.write(uint32_t{0x01020304}, Endian::Little);
    writer.write(hex("aa"));
    writer.writeRaw(ResponseStatus::ConditionsNotSatisfied);
    EXPECT_EQ(writer.buffer(), hex("01020304 04030201 aa 6985"));
}

TEST(CappedDataWriter, RefusesWritesPastMaxLeavingBuffer) {
    CappedDataWriter writer(2);
    writer.write(uint16_t{0xBEEF});
    EXPECT_TRUE(writer.isFull());
    EXPECT_THROW(writer.write(uint8_t{1}), CappedDataWriterException);
    EXPECT_THROW(writer.write(hex("01")), CappedDataWriterException);
    EXPECT_EQ(writer.buffer(), hex("beef"));

    CappedDataWriter bytes(3);
    bytes.write(hex("01"));
    EXPECT_FALSE(bytes.isFull());
    EXPECT_THROW(bytes.write(hex("020304")), CappedDataWriterException);
    EXPECT_EQ(bytes.buffer(), hex("01"));
}

}  // namespace
