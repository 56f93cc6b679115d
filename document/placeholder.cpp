namespace meshwick_document_placeholder {}
