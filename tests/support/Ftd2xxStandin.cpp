extern "C" int ftd2xx_standin_placeholder() { return 0; }
