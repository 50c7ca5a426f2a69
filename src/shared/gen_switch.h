// Runtime switches of the host support library: named settings that the
// environment (LKS_GSW_ + name) or a switch file beside the executable can
// change.
#pragma once

void gen_switch_init(int argc, const char **argv);
