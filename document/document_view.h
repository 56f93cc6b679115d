#pragma once

// What the document needs from the view that shows it.
class CDocumentView {
 public:
  virtual ~CDocumentView() = default;
  virtual void RebuildCanvas() = 0;
};
