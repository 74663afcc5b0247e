-- pandoc filter for man pages: a table becomes a definition list, since roff tables with
-- long cells do not fit a terminal. Each row's first cell is the term; the other cells
-- follow as paragraphs "Heading: text".
function Table(tbl)
  local headings = {}
  if #tbl.head.rows > 0 then
    for i, cell in ipairs(tbl.head.rows[1].cells) do
      headings[i] = pandoc.utils.stringify(pandoc.Div(cell.contents))
    end
  end
  local items = {}
  for _, body in ipairs(tbl.bodies) do
    for _, row in ipairs(body.body) do
      local paragraphs = {}
      for i = 2, #row.cells do
        local inlines = pandoc.utils.blocks_to_inlines(row.cells[i].contents)
        if #inlines > 0 then
          if headings[i] and headings[i] ~= "" then
            table.insert(inlines, 1, pandoc.Space())
            table.insert(inlines, 1, pandoc.Emph(pandoc.Str(headings[i] .. ":")))
          end
          table.insert(paragraphs, pandoc.Para(inlines))
        end
      end
      local term = pandoc.utils.blocks_to_inlines(row.cells[1].contents)
      table.insert(items, {term, {paragraphs}})
    end
  end
  return pandoc.DefinitionList(items)
end
