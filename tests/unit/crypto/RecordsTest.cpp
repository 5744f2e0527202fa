#include <gtest/gtest.h>
#include <thrift/protocol/TBinaryProtocol.h>
#include <thrift/transport/TBufferTransports.h>

#include "TestSupport.h"
#include "idl/database.h"
#include "idl/settings.h"

using namespace lumvane;
using namespace lumvane::test;
using apache::thrift::protocol::TBinaryProtocol;
using apache::thrift::protocol::TType;
using apache::thrift::transport::TMemoryBuffer;

namespace {

std::string binaryHex(const apache::thrift::TBase& record) {
    auto buffer = std::make_shared<TMemoryBuffer>();
    TBinaryProtocol protocol(buffer);
    record.write(&protocol);
    return toHex(bytesOf(buffer->getBufferAsString()));
}

template <class Record>
Record readHex(const std::string& hex) {
    const Bytes bytes = fromHex(hex);
    auto buffer = std::make_shared<TMemoryBuffer>(const_cast<uint8_t*>(bytes.data()),
                                                  static_cast<uint32_t>(bytes.size()));
    TBinaryProtocol protocol(buffer);
    Record record;
    record.read(&protocol);
    return record;
}

// The (id, wire type) of each top-level field, in the order written.
std::vector<std::pair<int16_t, int>> fieldsOf(const apache::thrift::TBase& record) {
    auto buffer = std::make_shared<TMemoryBuffer>();
    TBinaryProtocol protocol(buffer);
    record.write(&protocol);
    std::vector<std::pair<int16_t, int>> fields;
    std::string name;
    protocol.readStructBegin(name);
    for (;;) {
        TType type;
        int16_t id;
        protocol.readFieldBegin(name, type, id);
        if (type == apache::thrift::protocol::T_STOP) break;
        fields.emplace_back(id, static_cast<int>(type));
        protocol.skip(type);
        protocol.readFieldEnd();
    }
    return fields;
}

using Fields = std::vector<std::pair<int16_t, int>>;
constexpr int kI64 = 10, kString = 11, kMap = 13, kList = 15;

TEST(DatabaseRecords, BackupHeaderListsAndSkippedWireTypes) {
    TBNEncryptedBackupHeader header;
    EXPECT_EQ(binaryHex(header), "00");
    header.setQuestions(std::make_shared<std::vector<std::string>>());
    EXPECT_EQ(binaryHex(header), "0f00030b0000000000") << "empty list: size 0";
    // Field 2 arriving as i32 is skipped; field 1 still read.
    auto read = readHex<TBNEncryptedBackupHeader>("08000200000005060001000700");
    EXPECT_FALSE(read.encyptMethodIsSet());
    EXPECT_EQ(read.version(), 7);
    TBNEncryptedBackupHeader full(
        1, 2, std::make_shared<std::vector<std::string>>(std::vector<std::string>{"q1", "q2"}),
        std::make_shared<std::vector<Bytes>>(std::vector<Bytes>{{1, 2}}));
    auto back = readHex<TBNEncryptedBackupHeader>(binaryHex(full));
    EXPECT_EQ(back, full);
}

TEST(DatabaseRecords, Constants) {
    EXPECT_EQ(TBNdatabaseConstants::CurrentVersion(), TBNdatabaseConstants::Version0001());
    EXPECT_EQ(TBNdatabaseConstants::Version0002(), 2);
    EXPECT_EQ(TBNdatabaseConstants::CurrentBackupVersion(), 1);
    EXPECT_EQ(TBNdatabaseConstants::CurrentBackupEncryptionMethod(), 2);
    EXPECT_EQ(TBNdatabaseConstants::TBNMarker(), "_tbnlmv_");
}

TEST(PhoneSettingsRecords, WriteOnlySetFieldsInDeclarationOrder) {
    TBNIOSSettings settings;
    auto clients = std::make_shared<std::map<std::string, std::shared_ptr<TBNIOSClientInfo>>>();
    (*clients)["mac"] = std::make_shared<TBNIOSClientInfo>();
    (*clients)["mac"]->setName("desk");
    settings.setClients(clients);
    settings.setDeviceId("phone-1");
    EXPECT_EQ(fieldsOf(settings), (Fields{{1, kString}, {99, kMap}}));
    auto back = readHex<TBNIOSSettings>(binaryHex(settings));
    EXPECT_EQ(back, settings);
    EXPECT_EQ(*back.clients()->at("mac")->name(), "desk");

    auto lock = readHex<TBNIOSSettings>("0800050000000500");
    EXPECT_FALSE(lock.lockTimeoutIsSet()) << "i32 where i16 is declared is skipped";

    TBNIOSSessionSettings session;
    session.setOnlineClients(
        std::make_shared<std::map<std::string, std::shared_ptr<TBNIOSClientInfo>>>());
    EXPECT_EQ(binaryHex(session), "0d00040b0c0000000000") << "empty map: size 0";

    TBNIOSEncryptedSettings encrypted;
    encrypted.setBackupEncryptedHeader(std::make_shared<TBNEncryptedBackupHeader>());
    encrypted.setAnalytics(std::make_shared<TBNIOSAnalytics>());
    encrypted.analytics()->setAchievements(
        std::make_shared<std::set<int32_t>>(std::set<int32_t>{3, 1}));
    EXPECT_EQ(readHex<TBNIOSEncryptedSettings>(binaryHex(encrypted)), encrypted);
    EXPECT_EQ(TBNIOSClientInfo::kWireName, std::string("IOSClientInfo"));
}

TEST(RecordCollections, WhatIsWritten) {
    TBNSiteDataCollection plain;
    EXPECT_EQ(binaryHex(plain), "00");
    TBNSiteDataCollection made(std::make_shared<std::vector<std::shared_ptr<TBNSiteData>>>(), 0,
                               nullptr,
                               std::make_shared<std::vector<std::shared_ptr<TBNU2FData>>>());
    EXPECT_EQ(fieldsOf(made), (Fields{{1, kList}, {2, kI64}, {11, kList}}));
    auto back = readHex<TBNSiteDataCollection>(binaryHex(made));
    EXPECT_TRUE(back.u2fRecordsIsSet());
    EXPECT_TRUE(back.u2fRecords() && back.u2fRecords()->empty());
    EXPECT_EQ(back.updateTimeStamp(), 0);
    EXPECT_TRUE(back.updateTimeStampIsSet());

    TBNSiteDataCollection unsetAudits = made;
    unsetAudits.unsetAudits();
    EXPECT_FALSE(made == unsetAudits) << "audits set to null differs from audits unset";
    EXPECT_EQ(made.description().rfind("TBNSiteDataCollection(records:", 0), 0u);
    EXPECT_NE(made.description().find(",updateTimeStamp:0,audits:"), std::string::npos);
}

TEST(RecordCollections, ReadingSkipsWrongTypesAndUnknownIds) {
    // Field 1 as i32 (not a list), then unknown field 5, then field 2 = 9.
    auto read = readHex<TBNSiteDataCollection>(
        "08000100000001"
        "0b000500000002"
        "6869"
        "0a00020000000000000009"
        "00");
    EXPECT_FALSE(read.recordsIsSet());
    EXPECT_EQ(read.updateTimeStamp(), 9);

    TBNHostDataCollection hosts;
    auto map = std::make_shared<std::map<std::string, std::shared_ptr<TBNHostData>>>();
    (*map)["h"] = std::make_shared<TBNHostData>();
    hosts.setRecords(map);
    hosts.setUpdateTimeStamp(5);
    EXPECT_EQ(fieldsOf(hosts), (Fields{{1, kI64}, {2, kMap}}));
    EXPECT_EQ(readHex<TBNHostDataCollection>(binaryHex(hosts)), hosts);

    TBNYubiKeyHostDataCollection keys(1, std::make_shared<std::map<std::string, std::string>>(
                                             std::map<std::string, std::string>{{"k", "v"}}));
    EXPECT_EQ(readHex<TBNYubiKeyHostDataCollection>(binaryHex(keys)), keys);
}

}  // namespace
