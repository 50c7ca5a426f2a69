# A second XCOFF object for the AIX archive.
        .text
        .globl  .util_max
        .type   .util_max, @function
.util_max:
        cmpw    3,4
        bgelr
        mr      3,4
        blr
        .size   .util_max, .-.util_max
        .globl  .util_min
        .type   .util_min, @function
.util_min:
        cmpw    3,4
        blelr
        mr      3,4
        blr
        .size   .util_min, .-.util_min
