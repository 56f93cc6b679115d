namespace meshwick_platform_placeholder {}
