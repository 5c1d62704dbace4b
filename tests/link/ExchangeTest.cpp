// The exchange as a state machine: chunks and timer expiries in, actions out.

#include "link/Exchange.h"
#include "SampleImage.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <memory>
#include <string>
#include <vector>

using namespace ulen3;

namespace {

const unsigned kVersion[3] = {15, 3, 7};

std::string ident(unsigned code, unsigned serial = 0x1234) { return identification_reply(code, serial, kVersion); }

// Records what the exchange asks for, one line per action.
class FakeHost : public ExchangeHost {
public:
    std::vector<std::string> log;
    std::string port;
    bool timer = false;
    int progress = -1;
    std::vector<int> progressSeen;
    int result = 0;
    unsigned count = 0;
    std::string errorCaption, errorText;

    void selectPort(const char* name) override {
        port = name;
        log.push_back(std::string("select ") + name);
    }
    bool open = false;
    void openPort() override {
        open = true;
        log.push_back("open");
    }
    void closePort() override {
        open = false;
        log.push_back("close");
    }
    void sendByte(char c) override { log.push_back(std::string("send ") + c); }
    void startReplyTimer() override { timer = true; }
    void stopReplyTimer() override { timer = false; }
    void clearInformation() override { log.push_back("clear"); }
    void showStatus(ExchangeStatus s) override {
        log.push_back(s == ExchangeStatus::Waiting ? "waiting" : "receiving");
    }
    void showProgress(int p) override {
        progress = p;
        progressSeen.push_back(p);
    }
    void showIdentification(const std::string& name, const std::string& version) override {
        log.push_back("ident " + name + " " + version);
    }
    void showRecordCount(unsigned n) override { count = n; }
    void showError(const std::string& caption, const std::string& text) override {
        // Before any box the port is closed and the timer stopped.
        EXPECT_FALSE(timer);
        EXPECT_FALSE(open);
        errorCaption = caption;
        errorText = text;
    }
    void finish(int r) override {
        EXPECT_FALSE(timer);
        EXPECT_FALSE(open);
        result = r;
    }

    int sends(char c) const {
        int n = 0;
        for (const auto& l : log)
            n += l == std::string("send ") + c;
        return n;
    }
};

class ExchangeTest : public ::testing::Test {
protected:
    FakeHost host;
    std::unique_ptr<DownloadResults> results = std::make_unique<DownloadResults>();
    Exchange exchange{host, *results};

    void feed(const std::string& text) { exchange.received(text.data(), text.size()); }
    // Feeds the text in chunks of n characters.
    void feedSplit(const std::string& text, std::size_t n) {
        for (std::size_t i = 0; i < text.size() && exchange.active(); i += n)
            exchange.received(text.data() + i, std::min(n, text.size() - i));
    }
};

TEST_F(ExchangeTest, HelpersDecodeNibbleText) {
    EXPECT_EQ(pair_byte(":3", 0), 0x3A);
    EXPECT_EQ(pair_byte("12", 0), 0x21);
    EXPECT_EQ(pair_byte("??", 0), 0xFF);
    EXPECT_EQ(pair_word("4321", 0), 0x1234);
    EXPECT_EQ(first_pos("abPcP", 5, 'P'), 2u);
    EXPECT_EQ(first_pos("abPcP", 2, 'P'), kReceiveBufferSize);
    // bytes 2, 3, 4 = 7, 3, 15 give 15.03.07
    EXPECT_EQ(version_text("7030?0", 0), "15.03.07");
}

TEST_F(ExchangeTest, StartsOnCom1WithV) {
    exchange.start();
    EXPECT_EQ(host.port, kPortCom1);
    EXPECT_EQ(host.log, (std::vector<std::string>{"select \\\\.\\COM1", "clear", "waiting", "open", "send V"}));
    EXPECT_TRUE(host.timer);
    EXPECT_EQ(host.progress, 0);
    EXPECT_EQ(exchange.lastCommand(), 'V');
    // An empty chunk from the driver is nothing at all.
    exchange.received(nullptr, 0);
    exchange.received("", 0);
    EXPECT_TRUE(host.timer);
    EXPECT_EQ(exchange.lastCommand(), 'V');
}

TEST_F(ExchangeTest, DeviceCodesAcceptedAndRejected) {
    for (unsigned code : {0x30u, 0x33u, 0x36u, 0x21u, 0x2Fu, 0x37u, 0x00u}) {
        FakeHost h;
        auto r = std::make_unique<DownloadResults>();
        Exchange e(h, *r);
        e.start();
        const std::string reply = ident(code, 0xBEEF);
        e.received(reply.data(), reply.size());
        const bool accepted = code == 0x21 || (code >= 0x30 && code <= 0x36);
        EXPECT_EQ(accepted, accepted_device_code(code)) << code;
        // The identification values are overwritten before the check, whatever its outcome.
        EXPECT_EQ(r->dev_code, code);
        EXPECT_EQ(r->dev_serial, 0xBEEF);
        EXPECT_EQ(r->soft_ver, "15.03.07");
        if (accepted) {
            EXPECT_TRUE(e.active()) << code;
            EXPECT_EQ(h.log.back(), "send N");
            EXPECT_EQ(h.log[h.log.size() - 3], "ident ВЕСКОР 15.03.07");
            EXPECT_EQ(h.result, 0);
        } else {
            EXPECT_FALSE(e.active()) << code;
            EXPECT_EQ(h.result, 2);
            EXPECT_EQ(h.errorCaption, "Error");
            EXPECT_EQ(h.errorText, "Вы подключили не тот прибор !");
            EXPECT_EQ(h.sends('N'), 0);
        }
    }
}

TEST_F(ExchangeTest, WorkedDumpsUnpack) {
    for (const auto& [dump, bytes] :
         std::vector<std::pair<std::string, std::vector<int>>>{{"S120P", {0x21}}, {"S12340P", {0x21, 0x43}}}) {
        FakeHost h;
        auto r = std::make_unique<DownloadResults>();
        r->flash_image.fill(0xEE);
        Exchange e(h, *r);
        e.start();
        const std::string reply = ident(0x21) + "";
        e.received(reply.data(), reply.size());
        e.received(dump.data(), dump.size());
        EXPECT_EQ(h.result, 1);
        ASSERT_EQ(r->image_size, bytes.size());
        for (std::size_t k = 0; k < bytes.size(); ++k)
            EXPECT_EQ(r->flash_image[k], bytes[k]);
        // Bytes beyond the dump keep their older contents.
        EXPECT_EQ(r->flash_image[bytes.size()], 0xEE);
        EXPECT_EQ(h.progress, 100);
    }
}

TEST_F(ExchangeTest, RepliesSplitAtEveryPositionGiveTheSameImage) {
    const auto image = sample_image({.count1 = 3, .count2 = 2});
    const std::string whole = ident(0x30) + dump_reply(image);
    for (std::size_t n : {1, 2, 3, 7, 16, 17, 64}) {
        FakeHost h;
        auto r = std::make_unique<DownloadResults>();
        Exchange e(h, *r);
        e.start();
        // The identification arrives split; the dump only after 'N' was sent.
        const std::string id = ident(0x30);
        for (std::size_t i = 0; i < id.size(); i += n)
            e.received(id.data() + i, std::min(n, id.size() - i));
        ASSERT_EQ(e.lastCommand(), 'N') << n;
        const std::string dump = dump_reply(image);
        for (std::size_t i = 0; i < dump.size(); i += n) {
            EXPECT_EQ(h.result, 0) << "finished before the end 'P', chunk " << n;
            e.received(dump.data() + i, std::min(n, dump.size() - i));
        }
        EXPECT_EQ(h.result, 1) << n;
        ASSERT_EQ(r->image_size, image.size());
        EXPECT_TRUE(std::equal(image.begin(), image.end(), r->flash_image.begin())) << n;
        EXPECT_EQ(h.count, 5u);
    }
    (void)whole;
}

TEST_F(ExchangeTest, CharactersAfterTheIdentificationEndAreDiscarded) {
    exchange.start();
    // The chunk holding the identification's 'P' also holds the start of a dump.
    feed(ident(0x21) + "S12");
    EXPECT_EQ(exchange.lastCommand(), 'N');
    feed("S340P");
    EXPECT_EQ(host.result, 1);
    ASSERT_EQ(results->image_size, 1u);
    EXPECT_EQ(results->flash_image[0], 0x43);
}

TEST_F(ExchangeTest, ZAfterAnEndMarkDropsTheWholeChunk) {
    exchange.start();
    const std::string id = ident(0x21);
    // An end 'P' followed by 'Z' in one chunk: nothing of it survives, 'V' goes out again.
    feed(id.substr(0, 10));
    feed(id.substr(10) + "Z");
    EXPECT_EQ(exchange.lastCommand(), 'V');
    EXPECT_EQ(host.sends('V'), 2);
    EXPECT_EQ(host.sends('N'), 0);
    EXPECT_FALSE(host.timer);
    // The next reply is read from its start.
    feed(ident(0x33, 77));
    EXPECT_EQ(results->dev_code, 0x33);
    EXPECT_EQ(results->dev_serial, 77);
    EXPECT_EQ(exchange.lastCommand(), 'N');
}

TEST_F(ExchangeTest, ZDuringTheDumpStartsOverWithoutATimer) {
    exchange.start();
    feed(ident(0x21));
    feedSplit(dump_reply(sample_image({.count1 = 10, .count2 = 10})).substr(0, 600), 40);
    EXPECT_FALSE(host.timer);
    EXPECT_GT(host.progress, 0);
    feed("56Z78");
    EXPECT_EQ(host.progress, 0); // what was received is gone, and so is its progress
    EXPECT_EQ(exchange.lastCommand(), 'V');
    EXPECT_FALSE(host.timer);
    EXPECT_FALSE(exchange.timerRunning());
    // After a restart the timer stays stopped: an expiry does nothing.
    exchange.timerExpired();
    EXPECT_TRUE(exchange.active());
    EXPECT_EQ(host.port, kPortCom1);
    feed(ident(0x21));
    EXPECT_EQ(host.sends('N'), 2);
    feed("S12340P");
    EXPECT_EQ(host.result, 1);
    EXPECT_EQ(results->image_size, 2u);
}

TEST_F(ExchangeTest, NoAnswerMovesToCom2ThenGivesUp) {
    exchange.start();
    exchange.timerExpired();
    EXPECT_EQ(host.port, kPortCom2);
    EXPECT_TRUE(host.timer);
    EXPECT_EQ(host.sends('V'), 2);
    exchange.timerExpired();
    EXPECT_EQ(host.result, 2);
    EXPECT_EQ(host.errorCaption, "Ошибка");
    EXPECT_EQ(host.errorText, "Прибор не обнаружен! Проверте правильность подключения согласно инструкции!");
    EXPECT_EQ(host.port, kPortCom1);
    // A download that ends before any identification leaves the values alone.
    EXPECT_EQ(results->dev_code, 0);
    // The next download starts on COM1 again.
    host.log.clear();
    exchange.start();
    EXPECT_EQ(host.log.front(), "select \\\\.\\COM1");
}

TEST_F(ExchangeTest, InstrumentOnCom2AnswersAfterTheSwitch) {
    exchange.start();
    exchange.timerExpired();
    feed(ident(0x21));
    feed("S120P");
    EXPECT_EQ(host.result, 1);
    EXPECT_EQ(exchange.port(), kPortCom2);
}

TEST_F(ExchangeTest, TimerRunsUntilAnSAndCanSwitchPortsMidExchange) {
    exchange.start();
    // An identification without 'S': the timer keeps running after 'N' is sent.
    feed(ident(0x21).substr(0, 14) + "P");
    EXPECT_EQ(exchange.lastCommand(), 'N');
    EXPECT_TRUE(host.timer);
    exchange.timerExpired();
    EXPECT_EQ(host.port, kPortCom2);
    EXPECT_EQ(exchange.lastCommand(), 'V');
}

TEST_F(ExchangeTest, CancelClosesAndEndsWith2) {
    exchange.start();
    feed(ident(0x21));
    feed("S1234");
    exchange.cancel();
    EXPECT_EQ(host.result, 2);
    EXPECT_EQ(host.log.back(), "close");
    EXPECT_FALSE(exchange.active());
    // Late input and expiries after the end change nothing.
    feed("0P");
    exchange.timerExpired();
    EXPECT_EQ(results->image_size, 0u);
}

TEST_F(ExchangeTest, ShortIdentificationIsAWrongInstrumentNotStaleData) {
    exchange.start();
    feed(ident(0x21, 4321));
    exchange.cancel();
    results->reset();
    // A second download: an identification of 5 characters must not be completed from the
    // characters the first one left in the buffer.
    exchange.start();
    feed("1212P");
    EXPECT_EQ(host.result, 2);
    EXPECT_EQ(host.errorText, "Вы подключили не тот прибор !");
    EXPECT_EQ(results->dev_serial, 0);
    EXPECT_EQ(results->soft_ver, "");
}

TEST_F(ExchangeTest, MalformedDumpsAreRefusedAndTheImageKept) {
    for (const std::string dump : {"12340P", "P", "S0P", "SP", "S12P", "S1234P", "12P S120P"}) {
        FakeHost h;
        auto r = std::make_unique<DownloadResults>();
        r->flash_image.fill(0x5A);
        r->image_size = 7;
        Exchange e(h, *r);
        e.start();
        const std::string id = ident(0x21);
        e.received(id.data(), id.size());
        e.received(dump.data(), dump.size());
        EXPECT_EQ(h.result, 2) << dump;
        EXPECT_EQ(h.errorCaption, "Ошибка") << dump;
        EXPECT_NE(h.errorText.find("прежний образ памяти прибора не изменён"), std::string::npos);
        EXPECT_EQ(r->image_size, 7u) << dump;
        EXPECT_EQ(r->flash_image[0], 0x5A) << dump;
        EXPECT_NE(h.progress, 100) << dump;
    }
}

TEST_F(ExchangeTest, OverlongReplyAndOversizeDumpAreRefused) {
    exchange.start();
    feed(ident(0x21));
    // More than the whole receive buffer without a 'P'.
    const std::string filler(70000, '0');
    for (int i = 0; i < 3; ++i)
        feed(filler);
    EXPECT_TRUE(exchange.active());
    feed("S" + filler);
    EXPECT_EQ(host.result, 2);
    EXPECT_NE(host.errorText.find("262144"), std::string::npos);

    // A dump of 65,537 bytes fits the buffer but not the image.
    FakeHost h;
    Exchange e(h, *results);
    e.start();
    const std::string id = ident(0x21);
    e.received(id.data(), id.size());
    const std::string big = "S" + std::string(2 * 65537, '1') + "0P";
    e.received(big.data(), big.size());
    EXPECT_EQ(h.result, 2);
    EXPECT_NE(h.errorText.find("65537"), std::string::npos);
    EXPECT_EQ(results->flash_image[0], 0);
}

TEST_F(ExchangeTest, FullMemoryDumpFitsExactly) {
    std::vector<unsigned char> image(kFlashImageSize);
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<unsigned char>(i * 7);
    exchange.start();
    feed(ident(0x21));
    feedSplit(dump_reply(image), 4096);
    EXPECT_EQ(host.result, 1);
    EXPECT_EQ(results->image_size, kFlashImageSize);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), results->flash_image.begin()));
}

// The bar climbs steadily through every shape of memory, small or full, with either section
// empty: never backwards, never by more than a few points at once, 100 only at the end. A small
// memory with few operative records is about half-way when half of it has come.
TEST(ExchangeProgress, ClimbsSteadilyThroughEveryShapeOfMemory) {
    const std::vector<std::pair<unsigned, unsigned>> shapes = {{40, 0}, {120, 3},    {50, 100},
                                                               {0, 60}, {2000, 978}, {1, 0}};
    for (const auto& [count1, count2] : shapes) {
        FakeHost h;
        auto r = std::make_unique<DownloadResults>();
        Exchange e(h, *r);
        e.start();
        const std::string reply = ident(0x21);
        e.received(reply.data(), reply.size());
        const std::string dump = dump_reply(sample_image({.count1 = count1, .count2 = count2}));
        for (std::size_t i = 0; i < dump.size(); i += 44) {
            e.received(dump.data() + i, std::min<std::size_t>(44, dump.size() - i));
            if (count2 < 5 && count1 >= 40 && i < dump.size() / 2 && i + 44 >= dump.size() / 2) {
                EXPECT_GE(h.progress, 40) << count1 << "+" << count2;
                EXPECT_LE(h.progress, 50) << count1 << "+" << count2;
            }
        }
        EXPECT_EQ(h.result, 1);
        EXPECT_EQ(h.progressSeen.back(), 100);
        EXPECT_TRUE(std::is_sorted(h.progressSeen.begin() + 1, h.progressSeen.end())) << count1 << "+" << count2;
        EXPECT_EQ(std::count(h.progressSeen.begin(), h.progressSeen.end(), 100), 1);
        const std::size_t steps = h.progressSeen.size();
        for (std::size_t i = 2; count1 + count2 > 10 && i + 1 < steps; ++i)
            EXPECT_LE(h.progressSeen[i] - h.progressSeen[i - 1], 10) << count1 << "+" << count2 << " at " << i;
        EXPECT_EQ(h.count, count1 + count2);
    }
}

// The rest of a dump the instrument went on sending after "Отмена" is no answer to 'V': it is
// dropped, and the identification after it is read, in a chunk of its own or in the same one.
TEST_F(ExchangeTest, TheRestOfAnAbandonedDumpIsNotTakenForTheIdentification) {
    const std::string rest = dump_reply(sample_image({.count1 = 30, .count2 = 5})).substr(400);
    for (bool together : {false, true}) {
        FakeHost h;
        auto r = std::make_unique<DownloadResults>();
        Exchange e(h, *r);
        e.start();
        const std::string reply = ident(0x33, 0xBEEF);
        if (together) {
            const std::string both = rest + reply;
            e.received(both.data(), both.size());
        } else {
            e.received(rest.data(), rest.size());
            EXPECT_TRUE(h.timer) << "the reply timer waits for the real answer";
            EXPECT_EQ(e.lastCommand(), 'V');
            e.received(reply.data(), reply.size());
        }
        EXPECT_EQ(h.errorText, "") << together;
        EXPECT_EQ(e.lastCommand(), 'N') << together;
        EXPECT_EQ(r->dev_code, 0x33) << together;
        EXPECT_EQ(r->dev_serial, 0xBEEF) << together;
        EXPECT_EQ(h.sends('V'), 1) << together;
    }
}

} // namespace
