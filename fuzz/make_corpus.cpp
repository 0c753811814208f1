// Writes the seed inputs of fuzz_receive into the folder given as the only argument.
// Input layout (see fuzz_receive.cpp): byte 0 = table length - 1 (0..7), then the
// chunk-size table ((byte % 32) + 1 each), then the received byte stream.
//
//   build-fuzz/fuzz_make_corpus fuzz/corpus
#include "frame.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using bytes = std::vector<std::uint8_t>;
using namespace lorvane;

void put(bytes& out, const frame& f)
{
    out.insert(out.end(), f.begin(), f.end());
}

// Header: a chunk-size table of the given sizes (1..32).
bytes header(const std::vector<unsigned>& sizes)
{
    bytes out{static_cast<std::uint8_t>(sizes.size() - 1)};
    for (const unsigned s : sizes)
        out.push_back(static_cast<std::uint8_t>(s - 1));
    return out;
}

// The 17 read replies of a whole read chain for `address`, with values worth seeing:
// zero, 255, all operation codes 0..4 and 255.
void read_chain(bytes& out, std::uint8_t address)
{
    put(out, make_reply(address, FUNC_READ, 0, 200, 0, 0));
    static constexpr std::uint8_t ops[] = {1, 2, 3, 0, 4, 255};
    for (std::uint8_t r = 1; r <= 16; ++r)
        put(out, make_reply(address, FUNC_READ, r, static_cast<std::uint8_t>(r * 15),
                            static_cast<std::uint8_t>(255 - r), ops[r % 6]));
}

void write_chain(bytes& out, std::uint8_t address)
{
    put(out, make_reply(address, FUNC_WRITE, 0, 50, 0, 0));
    for (std::uint8_t r = 1; r <= 16; ++r)
        put(out, make_reply(address, FUNC_WRITE, r, 1, r, 1));
}

bool write_file(const std::string& dir, const std::string& name, const bytes& data)
{
    const std::string path = dir + "/seed-" + name;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    bool ok = true;

    {  // a whole read chain for address 1, one frame per notification
        bytes d = header({8});
        read_chain(d, 1);
        ok &= write_file(dir, "read-chain", d);
    }
    {  // a whole write chain, one frame per notification
        bytes d = header({8});
        write_chain(d, 1);
        ok &= write_file(dir, "write-chain", d);
    }
    {  // the read chain arriving one byte at a time
        bytes d = header({1});
        read_chain(d, 1);
        ok &= write_file(dir, "read-chain-bytewise", d);
    }
    {  // the read chain in uneven chunks, some larger than a frame
        bytes d = header({3, 5, 13, 32, 7, 9, 2, 16});
        read_chain(d, 1);
        ok &= write_file(dir, "read-chain-uneven", d);
    }
    {  // frame-sized garbage between replies: bad checksum, request echo, wrong header
        bytes d = header({8});
        put(d, make_reply(1, FUNC_READ, 0, 10, 0, 0));
        frame bad = make_reply(1, FUNC_READ, 1, 9, 9, 2);
        bad[POS_CHECKSUM] ^= 0x01;
        put(d, bad);
        put(d, make_request(FUNC_READ, 1, 1, 0, 0, 0));
        frame wrong_header = make_reply(1, FUNC_READ, 2, 7, 7, 3);
        wrong_header[POS_HEADER] = 0x23;
        put(d, wrong_header);
        put(d, make_reply(1, FUNC_READ, 1, 9, 9, 2));
        // misaligned garbage: 3 bytes, then 5 more to realign on frames
        d.insert(d.end(), {0x22, 0x01, 0xF1});
        put(d, make_reply(1, FUNC_READ, 3, 3, 3, 3));  // lost: read across the boundary
        d.insert(d.end(), {0x00, 0xFF, 0x22, 0x22, 0x55});
        put(d, make_reply(1, FUNC_READ, 4, 4, 4, 1));
        put(d, make_reply(1, FUNC_WRITE, 5, 0, 0, 0));
        ok &= write_file(dir, "garbage-between", d);
    }
    {  // replies to other addresses and to records out of range
        bytes d = header({8});
        put(d, make_reply(0, FUNC_READ, 0, 1, 2, 3));
        put(d, make_reply(2, FUNC_READ, 1, 1, 2, 3));
        put(d, make_reply(255, FUNC_WRITE, 3, 1, 2, 3));
        put(d, make_reply(1, FUNC_READ, 17, 1, 2, 3));
        put(d, make_reply(1, FUNC_WRITE, 255, 1, 2, 3));
        put(d, make_reply(1, 0x00, 2, 1, 2, 3));
        put(d, make_reply(1, 0xF2, 2, 1, 2, 3));
        put(d, make_reply(1, FUNC_READ, 16, 0, 0, 2));  // the end of a read chain alone
        ok &= write_file(dir, "other-addresses", d);
    }
    {  // write and read chains interleaved, both finishing
        bytes d = header({8});
        bytes r;
        bytes w;
        read_chain(r, 1);
        write_chain(w, 1);
        for (std::size_t i = 0; i < r.size(); i += FRAME_SIZE) {
            d.insert(d.end(), w.begin() + static_cast<std::ptrdiff_t>(i),
                     w.begin() + static_cast<std::ptrdiff_t>(i + FRAME_SIZE));
            d.insert(d.end(), r.begin() + static_cast<std::ptrdiff_t>(i),
                     r.begin() + static_cast<std::ptrdiff_t>(i + FRAME_SIZE));
        }
        ok &= write_file(dir, "interleaved", d);
    }
    {  // two frames per notification: the second stays waiting until the next one
        bytes d = header({16, 8});
        read_chain(d, 1);
        ok &= write_file(dir, "backlog", d);
    }
    {  // an adapter that hands every request back just before the reply
        bytes d = header({16});
        std::uint8_t r = 0;
        for (; r <= 16; ++r) {
            put(d, make_request(FUNC_READ, 1, r, 0, 0, 0));
            put(d, make_reply(1, FUNC_READ, r, r, r, 1));
        }
        ok &= write_file(dir, "echo-then-reply", d);
    }
    {  // stray bytes put a reply out of step; the reply at the next step of 8 moves the
       // chain on, and those behind it in each chunk are not taken
        bytes d = header({32});
        d.insert(d.end(), {0x00, 0x22, 0x55});
        put(d, make_reply(1, FUNC_WRITE, 0, 50, 0, 0));
        d.insert(d.end(), {0x01, 0x02, 0x03, 0x04, 0x05});
        put(d, make_reply(1, FUNC_WRITE, 1, 1, 1, 1));
        for (std::uint8_t r = 2; r <= 16; ++r)
            put(d, make_reply(1, FUNC_WRITE, r, 1, r, 1));
        ok &= write_file(dir, "out-of-step", d);
    }
    {  // each chunk holds a reply and the head of the next: the send drops the head
        bytes d = header({11, 5});
        read_chain(d, 1);
        ok &= write_file(dir, "head-across-send", d);
    }
    {  // a truncated reply
        bytes d = header({8});
        d.insert(d.end(), {0x22, 0x01, 0xF1, 0x00, 0x05});
        ok &= write_file(dir, "truncated", d);
    }
    if (!ok) {
        std::fprintf(stderr, "could not write the seeds into %s\n", dir.c_str());
        return 1;
    }
    return 0;
}
