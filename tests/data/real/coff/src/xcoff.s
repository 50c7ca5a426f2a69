# Big-endian PowerPC functions named as XCOFF names entry points, with a
# leading dot; converted from ELF to XCOFF by objcopy.
        .text
        .globl  .alpha
        .type   .alpha, @function
.alpha:
        li      3,1
        blr
        .size   .alpha, .-.alpha
        .globl  .beta_with_a_long_name
        .type   .beta_with_a_long_name, @function
.beta_with_a_long_name:
        li      3,2
        addi    3,3,1
        addi    3,3,1
        blr
        .size   .beta_with_a_long_name, .-.beta_with_a_long_name
        .type   .gamma, @function
.gamma:
        nop
        nop
        nop
        blr
        .size   .gamma, .-.gamma
        .section .text.other,"ax",@progbits
        .globl  .delta
        .type   .delta, @function
.delta:
        blr
        .size   .delta, .-.delta
        .data
        .globl  table
        .type   table, @object
table:
        .long   1, 2, 3
        .size   table, .-table
