#include "tests/support/fuzzseeds.h"

namespace salvora::testing {

fuzz::Bytes fuzzInputOf(const CorpusCase &c) {
    fuzz::FuzzCase input;
    const RecoveryOptions &o = c.options;
    input.control = static_cast<std::uint8_t>(
        (o.pack ? fuzz::controlPack : 0) | (o.recoverDeleted ? fuzz::controlRecoverDeleted : 0) |
        (o.deleteEmpty ? fuzz::controlDeleteEmpty : 0) |
        (o.deleteDuplicates ? fuzz::controlDeleteDuplicates : 0) |
        (o.deleteInvalidMemo ? fuzz::controlDeleteInvalidMemo : 0) |
        (c.inPlace ? fuzz::controlInPlace : 0) | (c.dropDeleted ? fuzz::controlDropDeleted : 0));
    input.table = c.table;
    input.memo = c.memo;
    return fuzz::encodeFuzzInput(input);
}

} // namespace salvora::testing
