# Functions whose auxiliary entries carry a size. The assembler stores the
# ".size" of a ".def" block in the 16-bit size field of the auxiliary entry,
# which sits in the upper half of the 32-bit function-size field: a size of
# 6 reads back as 0x60000.
        .text
        .globl  alpha
        .def    alpha;  .scl 2; .type 32;  .size 6; .endef
alpha:
        movl    $1, %eax
        ret
        .def    beta;   .scl 3; .type 32;  .size 5; .endef
beta:
        nop
        nop
        nop
        nop
        ret
        .globl  gamma
        .def    gamma;  .scl 2; .type 32;  .endef
gamma:
        ret
