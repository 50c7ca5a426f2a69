# Hand-written functions for big-endian PowerPC; each has a size.
        .text
        .globl  alpha
        .type   alpha, @function
alpha:
        li      3,1
        blr
        .size   alpha, .-alpha
        .globl  beta
        .type   beta, @function
beta:
        li      3,2
        addi    3,3,1
        addi    3,3,1
        blr
        .size   beta, .-beta
        .type   gamma, @function
gamma:
        nop
        nop
        nop
        blr
        .size   gamma, .-gamma
        .section .text.other,"ax",@progbits
        .globl  delta
        .type   delta, @function
delta:
        blr
        .size   delta, .-delta
        .data
        .globl  table
        .type   table, @object
table:
        .long   1, 2, 3
        .size   table, .-table
