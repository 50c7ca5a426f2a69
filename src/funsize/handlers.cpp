// Format handlers shared by every input kind, and the handler table.
#include "funsize.h"
#include "genout.h"

int funsize_handle_unknown(FILE *, FILE *, input_desc *d) {
    gen_error("'%s' is not in a recognized format", d->name);
    return 0;
}

void funsize_install_handlers() {
    handler_table[HANDLER_DEBUG_INFO] = funsize_handle_debug_info;
    handler_table[HANDLER_AOUT] = funsize_handle_aout;
    handler_table[HANDLER_ELF] = funsize_handle_elf;
    handler_table[HANDLER_COFF] = funsize_handle_coff;
    handler_table[HANDLER_UNKNOWN] = funsize_handle_unknown;
}
