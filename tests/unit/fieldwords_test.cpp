#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "engine/fieldchecks.h"
#include "engine/fieldwords.h"

namespace salvora {
namespace {

using fieldwords::isValidDateWord;
using fieldwords::isValidNumberLanes;
using fieldwords::isValidNumberWords;
using fieldwords::laneRoom;
using fieldwords::loadWord;

// Bytes that sit on the edges of what the tests allow, and a few that are far from them.
const std::uint8_t edgeBytes[] = {' ',  '-',  '.',  '0',  '9',  '/',  ':',  '1',  '2',  '3',
                                  '4',  '+',  ',',  0x00, 0x1F, 0x21, 0x2F, 0x3A, 0x7F, 0x80,
                                  0xA0, 0xAD, 0xAE, 0xB0, 0xB9, 0xFF, 'T',  'x'};

TEST(FieldWords, EveryByteOfADateIsJudgedAsTheByteTestJudgesIt) {
    const std::vector<std::uint8_t> sound = {'2', '0', '2', '3', '1', '2', '3', '1'};
    for (std::size_t k = 0; k < 8; ++k) {
        for (int b = 0; b < 256; ++b) {
            std::vector<std::uint8_t> date = sound;
            date[k] = static_cast<std::uint8_t>(b);
            EXPECT_EQ(isValidDateWord(loadWord(date.data())), isValidDate(date, 0))
                << "byte " << k << " = " << b;
        }
    }
    const std::vector<std::uint8_t> blanks(8, ' ');
    EXPECT_TRUE(isValidDateWord(loadWord(blanks.data())));
}

TEST(FieldWords, RandomDatesAgreeWithTheByteTest) {
    std::mt19937 random(7);
    std::vector<std::uint8_t> date(8);
    for (int n = 0; n < 200000; ++n) {
        for (std::uint8_t &b : date)
            b = edgeBytes[random() % std::size(edgeBytes)];
        ASSERT_EQ(isValidDateWord(loadWord(date.data())), isValidDate(date, 0));
    }
}

TEST(FieldWords, EveryByteAtEveryPlaceOfANumberAgreesWithTheByteTest) {
    // Each length up to three words, the byte after a digit, a minus sign or a blank, and
    // with the record ending right after the field or going on past it.
    for (std::size_t length = 1; length <= 24; ++length) {
        for (std::uint8_t left : {std::uint8_t{'7'}, std::uint8_t{'-'}, std::uint8_t{' '}}) {
            for (std::size_t k = 0; k < length; ++k) {
                for (int b = 0; b < 256; ++b) {
                    std::vector<std::uint8_t> record(length + 8, '5');
                    std::fill_n(record.begin(), length, left);
                    record[k] = static_cast<std::uint8_t>(b);
                    bool expected = isValidNumber(record, 0, length);
                    ASSERT_EQ(isValidNumberWords(record.data(), length, length), expected)
                        << length << " bytes, byte " << k << " = " << b;
                    ASSERT_EQ(isValidNumberWords(record.data(), length, length + 8), expected)
                        << length << " bytes, byte " << k << " = " << b << ", room after";
                    std::vector<std::uint8_t> lanes(record.begin(), record.begin() + length);
                    lanes.resize(laneRoom(length), left);
                    ASSERT_EQ(isValidNumberLanes(lanes.data(), length), expected)
                        << length << " bytes, byte " << k << " = " << b << ", by lanes";
                }
            }
        }
    }
}

TEST(FieldWords, RandomNumbersAgreeWithTheByteTest) {
    std::mt19937 random(11);
    const std::uint8_t numberBytes[] = {' ', '-', '.', '0', '5', '9', ' ', '1', '-', 'x', 0xB0};
    for (int n = 0; n < 300000; ++n) {
        std::size_t length = 1 + random() % 40;
        std::size_t room = length + random() % 10;
        std::vector<std::uint8_t> record(room);
        for (std::uint8_t &b : record)
            b = n % 2 ? numberBytes[random() % std::size(numberBytes)]
                      : edgeBytes[random() % std::size(edgeBytes)];
        bool expected = isValidNumber(record, 0, length);
        ASSERT_EQ(isValidNumberWords(record.data(), length, room), expected);
        record.resize(std::max(room, laneRoom(length)), record.back());
        ASSERT_EQ(isValidNumberLanes(record.data(), length), expected);
    }
}

TEST(FieldWords, MinusSignsFollowTheDigitBeforeThemAcrossWords) {
    const std::string cases[] = {"       1-", "        -", "1234567-",  "12345678-", "-1234567-",
                                 "       .-", "--------1", "1234567 -", "12345678 -"};
    for (const std::string &c : cases) {
        std::vector<std::uint8_t> bytes(c.begin(), c.end());
        bool expected = isValidNumber(bytes, 0, bytes.size());
        EXPECT_EQ(isValidNumberWords(bytes.data(), bytes.size(), bytes.size()), expected) << c;
        std::size_t length = bytes.size();
        bytes.resize(laneRoom(length), '9');
        EXPECT_EQ(isValidNumberLanes(bytes.data(), length), expected) << c;
    }
}

} // namespace
} // namespace salvora
