#include "ftp/FtpReplies.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

using namespace ornbrook;

TEST(FtpReplies, PassivePortsOnlyFromWellFormedReplies) {
    const struct {
        const char* text;
        std::optional<std::uint16_t> port;
    } epsv[] = {
        {"Entering Extended Passive Mode (|||6446|)", 6446},
        {"Entering Extended Passive Mode (!!!65535!)", 65535},
        {"(|||1|) trailing words", 1},
        {"Entering Extended Passive Mode (|||0|)", std::nullopt},
        {"Entering Extended Passive Mode (|||65536|)", std::nullopt},
        {"Entering Extended Passive Mode (|||6446)", std::nullopt},
        {"Entering Extended Passive Mode (||6446|)", std::nullopt},
        {"Entering Extended Passive Mode (|2|::1|6446|)", std::nullopt},
        {"Entering Extended Passive Mode (||| 6446|)", std::nullopt},
        {"Entering Extended Passive Mode (|||-5|)", std::nullopt},
        {"Entering Extended Passive Mode (|||0000006446|)", std::nullopt},
        {"Entering Extended Passive Mode |||6446|", std::nullopt},
        {"Entering Extended Passive Mode (|||", std::nullopt},
        {"(", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& row : epsv)
        EXPECT_EQ(EpsvPort(row.text), row.port) << "EPSV " << row.text;

    const struct {
        const char* text;
        std::optional<std::uint16_t> port;
    } pasv[] = {
        {"Entering Passive Mode (127,0,0,1,4,5)", 4 * 256 + 5},
        {"Entering Passive Mode (10,9,8,7,255,255).", 65535},
        // Without parentheses, as some servers write it.
        {"Entering Passive Mode 127,0,0,1,0,21", 21},
        {"Entering Passive Mode (127,0,0,1,0,0)", std::nullopt},
        {"Entering Passive Mode (127,0,0,1,256,1)", std::nullopt},
        {"Entering Passive Mode (127,0,0,1,4)", std::nullopt},
        {"Entering Passive Mode (127,0,0,1,4,)", std::nullopt},
        {"Entering Passive Mode (127, 0, 0, 1, 4, 5)", std::nullopt},
        {"Entering Passive Mode (127,0,0,1,4,5000000)", std::nullopt},
        {"Entering Passive Mode", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& row : pasv)
        EXPECT_EQ(PasvPort(row.text), row.port) << "PASV " << row.text;
}

TEST(FtpReplies, MdtmTimesOnlyFromWellFormedReplies) {
    const std::pair<const char*, std::optional<std::int64_t>> rows[] = {
        {"20240102030405", 1704164645},
        {"20240102030405.999", 1704164645},
        {"19700101000000", 0},
        {"2024010203040", std::nullopt},
        {"20241302030405", std::nullopt},
        {"20240102250405", std::nullopt},
        {"2024-1-02030405", std::nullopt},
        {"20240102030405 UTC", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [text, seconds] : rows)
        EXPECT_EQ(MdtmSeconds(text), seconds) << text;
}

TEST(FtpReplies, PortCommandsForEitherFamily) {
    SocketAddress v4;
    auto* in = reinterpret_cast<sockaddr_in*>(&v4.Storage);
    in->sin_family = AF_INET;
    ::inet_pton(AF_INET, "127.0.0.1", &in->sin_addr);
    v4.SetPort(4 * 256 + 5);
    EXPECT_EQ(PortCommand(v4), "PORT 127,0,0,1,4,5");
    SocketAddress v6;
    auto* in6 = reinterpret_cast<sockaddr_in6*>(&v6.Storage);
    in6->sin6_family = AF_INET6;
    ::inet_pton(AF_INET6, "::1", &in6->sin6_addr);
    v6.SetPort(2121);
    EXPECT_EQ(PortCommand(v6), "EPRT |2|::1|2121|");
}

TEST(FtpReplies, FeaturesAreReadFromTheirOwnLines) {
    const struct {
        const char* text;
        bool machine;
        bool utf8;
    } rows[] = {
        {"Features:\n MLST type*;size*;modify*;\n UTF8\nEnd", true, true},
        {"Features:\n mlsd\nEnd", true, false},
        {"Features:\n EPSV\n PASV\nEnd", false, false},
        // The first line is no feature, whatever it says.
        {"MLST UTF8", false, false},
        {"Extensions supported:\n MDTM\n UTF8 \n SIZE", false, true},
        {"", false, false},
    };
    for (const auto& row : rows) {
        ServerFacts facts;
        facts.PassiveOnly = true;
        ReadFeatureReply(row.text, facts);
        EXPECT_EQ(facts.MachineListing, row.machine) << row.text;
        EXPECT_EQ(facts.Utf8, row.utf8) << row.text;
        EXPECT_TRUE(facts.PassiveOnly);
    }
}

TEST(FtpReplies, WhatRefusalsAndListingRepliesSay) {
    const struct {
        Error refusal;
        bool asksForTls;
    } tls[] = {
        {{ErrorKind::Refused, "534 Policy requires SSL.", 534}, true},
        {{ErrorKind::Refused, "530 Non-anonymous sessions must use encryption.", 530}, true},
        {{ErrorKind::Connection, "421 Sorry, cleartext sessions are not accepted", 421}, true},
        {{ErrorKind::Refused, "530 Login incorrect.", 530}, false},
        {{ErrorKind::Refused, "500 TLS? Never heard of it", 500}, false},
        {{ErrorKind::Connection, "connection refused"}, false},
    };
    for (const auto& row : tls)
        EXPECT_EQ(AsksForTls(row.refusal), row.asksForTls) << row.refusal.Message;

    EXPECT_TRUE(SaysCut(FtpReply{226, "Output truncated to 10000 matches"}));
    EXPECT_FALSE(SaysCut(FtpReply{226, "Transfer complete"}));
    EXPECT_FALSE(SaysCut(FtpReply{451, "truncated"}));
    EXPECT_TRUE(SaysFailed(FtpReply{226, "Transfer done (but FAILED to open directory)."}));
    EXPECT_FALSE(SaysFailed(FtpReply{226, "Transfer complete"}));
}
