<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
    <context>
        <name>FileListModel</name>
        <message>
            <source>          类型        文件名        大小        修改时间         创建时间</source>
            <translation>          Type        Name          Size        Modified          Created</translation>
        </message>
        <message>
            <source>文件路径</source>
            <translation>Path</translation>
        </message>
    </context>
    <context>
        <name>GuideDialog</name>
        <message>
            <source>选择任务</source>
            <translation>Choose the task</translation>
        </message>
        <message>
            <source>① 在左侧选择文件类型，这里是“纯文本文件”；② 再选择“合并文件”或“分割文件”。右上方的“工作信息”随即显示所选的任务。</source>
            <translation>① On the left, choose the kind of file, here “Text files”; ② then choose “Merge files” or “Split files”. “Task” at the top right shows the chosen task.</translation>
        </message>
        <message>
            <source>添加文件</source>
            <translation>Add files</translation>
        </message>
        <message>
            <source>① 点“打开”选择文件所在的文件夹（也可以把文件或文件夹拖到列表里），这类文件随即列出；② 勾选要处理的文件，“全选”一次选中全部。</source>
            <translation>① Click “Open” and choose the folder holding the files (or drag files or folders onto the list); the files of that kind are listed; ② select the files to work on, “Select all” selects every one.</translation>
        </message>
        <message>
            <source>设置选项</source>
            <translation>Set the options</translation>
        </message>
        <message>
            <source>① 基本设置：新文档名、完成后是否删除源文件等；② 任务设置：这项任务自己的选项，这里是每个文件 25 行。</source>
            <translation>① Basic settings: the new document’s name, whether to delete the sources when done, and so on; ② Task settings: the options of this task, here 25 lines per file.</translation>
        </message>
        <message>
            <source>开始运行</source>
            <translation>Start the run</translation>
        </message>
        <message>
            <source>① 点“批量操作”开始。运行中进度条显示完成了多少；点“停止”或按 Esc 可随时停止，正在处理的文件恢复原样，已完成的保留。</source>
            <translation>① Click “Run” to start. While it runs, the progress bar shows how much is done; “Stop” or Esc stops it at any time: the file being worked on is left as it was, finished files stay.</translation>
        </message>
        <message>
            <source>查看结果</source>
            <translation>See the result</translation>
        </message>
        <message>
            <source>① 运行结束后，状态栏说明结果；② 处理完的文件离开列表。新文件写在源文件所在的文件夹里，或写到所选的保存位置。</source>
            <translation>① When the run ends, the status bar tells the result; ② finished files leave the list. New files are written in the folder of their sources, or in the chosen output folder.</translation>
        </message>
        <message>
            <source>zh_CN</source>
            <translation>en</translation>
        </message>
        <message>
            <source>操作演示</source>
            <translation>Guide</translation>
        </message>
        <message>
            <source>上一步</source>
            <translation>Back</translation>
        </message>
        <message>
            <source>下一步</source>
            <translation>Next</translation>
        </message>
        <message>
            <source>关闭</source>
            <translation>Close</translation>
        </message>
        <message>
            <source>第 %1 步（共 %2 步）：%3</source>
            <translation>Step %1 of %2: %3</translation>
        </message>
    </context>
    <context>
        <name>TMainForm</name>
        <message>
            <source>请您先从左侧选择操作任务，然后我再把合适类型的文件列表出来！</source>
            <translation>Please choose a task on the left first; the files of its kind are then listed!</translation>
        </message>
        <message>
            <source>  正在准备文件请稍候......</source>
            <translation>  Preparing the files, please wait......</translation>
        </message>
        <message>
            <source>请选择文档所在目录</source>
            <translation>Choose the folder holding the documents</translation>
        </message>
        <message>
            <source>  当前路径：</source>
            <translation>  Folder: </translation>
        </message>
        <message>
            <source>  文件准备完毕，等候后续操作！</source>
            <translation>  Files ready, waiting for the next step!</translation>
        </message>
        <message>
            <source>  无法读取文件夹“%1”</source>
            <translation>  Cannot read the folder “%1”</translation>
        </message>
        <message>
            <source>（%1 个子文件夹无法读取，已跳过）</source>
            <translation> (%1 subfolder(s) could not be read and were skipped)</translation>
        </message>
        <message>
            <source>全选</source>
            <translation>Select all</translation>
        </message>
        <message>
            <source>取消全选</source>
            <translation>Select none</translation>
        </message>
        <message>
            <source>正在处理文件。停止并退出吗？
正在处理的文件会恢复原样，已完成的文件保留。</source>
            <translation>Files are being worked on. Stop and quit?
The file being worked on is left as it was; finished files stay.</translation>
        </message>
        <message>
            <source>我的任务</source>
            <translation>My task</translation>
        </message>
        <message>
            <source>          已完成文件：</source>
            <translation>          Files done:</translation>
        </message>
        <message>
            <source>  任务文件类型    </source>
            <translation>  Kind of files    </translation>
        </message>
        <message>
            <source>◆ Word 文档  </source>
            <translation>◆ Word documents  </translation>
        </message>
        <message>
            <source>◆ Excel文档  </source>
            <translation>◆ Excel workbooks  </translation>
        </message>
        <message>
            <source>◆ Access文档 </source>
            <translation>◆ Access databases </translation>
        </message>
        <message>
            <source>◆ 纯文本文件 </source>
            <translation>◆ Text files </translation>
        </message>
        <message>
            <source>操作方式选择  </source>
            <translation>Operation  </translation>
        </message>
        <message>
            <source>★ 合并文件   </source>
            <translation>★ Merge files   </translation>
        </message>
        <message>
            <source>★ 分割文件   </source>
            <translation>★ Split files   </translation>
        </message>
        <message>
            <source>打开</source>
            <translation>Open</translation>
        </message>
        <message>
            <source>批量操作</source>
            <translation>Run</translation>
        </message>
        <message>
            <source>向上</source>
            <translation>Up</translation>
        </message>
        <message>
            <source>向下</source>
            <translation>Down</translation>
        </message>
        <message>
            <source>停止</source>
            <translation>Stop</translation>
        </message>
        <message>
            <source>删除当前行</source>
            <translation>Remove this row</translation>
        </message>
        <message>
            <source>全部选中</source>
            <translation>Select all</translation>
        </message>
        <message>
            <source>欢迎使用Plinthwick！</source>
            <translation>Welcome to Plinthwick!</translation>
        </message>
        <message>
            <source>正在读取文件的工作表或数据表……</source>
            <translation>Reading the sheets or tables of the file…</translation>
        </message>
        <message>
            <source>  请从列表中选择要操作的工作表或数据表</source>
            <translation>  Choose the sheet or table to work on from the list</translation>
        </message>
        <message>
            <source>操作演示</source>
            <translation>Guide</translation>
        </message>
        <message>
            <source>错误报告</source>
            <translation>Report a problem</translation>
        </message>
        <message>
            <source>官方网站</source>
            <translation>Website</translation>
        </message>
        <message>
            <source>关于...</source>
            <translation>About...</translation>
        </message>
        <message>
            <source>官方网站：</source>
            <translation>Website: </translation>
        </message>
        <message>
            <source>批量合并与分割 Word、Excel、Access 与纯文本文件。

官方网站：</source>
            <translation>Merges and splits Word, Excel, Access and text files in batches.

Website: </translation>
        </message>
        <message>
            <source>请先选中需操作的文档，可多选！</source>
            <translation>Please select the documents to work on first; you can select several!</translation>
        </message>
        <message>
            <source>正在停止，当前文件处理到安全位置后结束……</source>
            <translation>Stopping: the run ends once the current file reaches a safe point…</translation>
        </message>
        <message>
            <source>%1 个文件已被分割，并生成了新文件！</source>
            <translation>%1 file(s) split into new files!</translation>
        </message>
        <message>
            <source>%1 个文件合并生成新文件：</source>
            <translation>%1 file(s) merged into the new file: </translation>
        </message>
        <message>
            <source>  %1 个源文件已移到回收站</source>
            <translation>  %1 source file(s) moved to the trash</translation>
        </message>
        <message>
            <source>  %1 个源文件已删除（无法使用回收站）</source>
            <translation>  %1 source file(s) deleted (no trash available)</translation>
        </message>
        <message>
            <source>  %1 个源文件无法删除</source>
            <translation>  %1 source file(s) could not be deleted</translation>
        </message>
        <message>
            <source>  %1 个源文件在运行中被替换为其他文件，已保留未删除</source>
            <translation>  %1 source file(s) replaced by other files during the run were kept</translation>
        </message>
        <message>
            <source>以下源文件在运行中被替换为其他文件，已保留未删除：
</source>
            <translation>These source files were replaced by other files during the run and were kept:
</translation>
        </message>
        <message>
            <source>操作失败：</source>
            <translation>Failed: </translation>
        </message>
        <message>
            <source>工作信息</source>
            <translation>Current task</translation>
        </message>
        <message>
            <source>任务：</source>
            <translation>Task:</translation>
        </message>
        <message>
            <source>    基本设置</source>
            <translation>    Basic settings</translation>
        </message>
        <message>
            <source>新文档名</source>
            <translation>New name</translation>
        </message>
        <message>
            <source>新文档</source>
            <translation>New document</translation>
        </message>
        <message>
            <source>搜索子文件夹</source>
            <translation>Search subfolders</translation>
        </message>
        <message>
            <source>完成后删除源文件</source>
            <translation>Delete sources when done</translation>
        </message>
        <message>
            <source>完成后列表中消失</source>
            <translation>Remove from list when done</translation>
        </message>
        <message>
            <source>保存到源目录 </source>
            <translation>Save beside the sources </translation>
        </message>
        <message>
            <source>选择新文档的保存目录</source>
            <translation>Choose the folder for the new documents</translation>
        </message>
        <message>
            <source>    任务设置</source>
            <translation>    Task settings</translation>
        </message>
        <message>
            <source>插入分页符</source>
            <translation>Insert a page break</translation>
        </message>
        <message>
            <source>插入回车符</source>
            <translation>Insert a line break</translation>
        </message>
        <message>
            <source>Excel 文档合并</source>
            <translation>Excel merge</translation>
        </message>
        <message>
            <source>无条件合并</source>
            <translation>Merge all sheets into one</translation>
        </message>
        <message>
            <source>按相同页签名合并</source>
            <translation>Merge sheets of the same name</translation>
        </message>
        <message>
            <source>按相同页签顺序合并</source>
            <translation>Merge sheets by position</translation>
        </message>
        <message>
            <source>标题、表头</source>
            <translation>Titles and headers</translation>
        </message>
        <message>
            <source>不剔除标题表头</source>
            <translation>Keep every title and header</translation>
        </message>
        <message>
            <source>自动剔除标题表头</source>
            <translation>Drop repeated titles, headers</translation>
        </message>
        <message>
            <source>指定表头行号</source>
            <translation>Header ends at row</translation>
        </message>
        <message>
            <source>添加来源列</source>
            <translation>Add a source column</translation>
        </message>
        <message>
            <source>按表头匹配列</source>
            <translation>Match columns by header</translation>
        </message>
        <message>
            <source>平均分割               文件</source>
            <translation>Evenly into               files</translation>
        </message>
        <message>
            <source>按行数分割  </source>
            <translation>By rows  </translation>
        </message>
        <message>
            <source>每文件               行</source>
            <translation>Each file               rows</translation>
        </message>
        <message>
            <source>每Sheet成一个文件</source>
            <translation>One file per sheet</translation>
        </message>
        <message>
            <source>仅操作单个Sheet</source>
            <translation>Only one sheet</translation>
        </message>
        <message>
            <source>对指定标签进行操作，选中后点击待操作文件，然后从下表中选择标签名</source>
            <translation>Works on one sheet: tick this, click a file, then choose the sheet in the list below</translation>
        </message>
        <message>
            <source>重复标题</source>
            <translation>Repeat the title</translation>
        </message>
        <message>
            <source>按列值拆分</source>
            <translation>By column value</translation>
        </message>
        <message>
            <source>Access 文档合并</source>
            <translation>Access merge</translation>
        </message>
        <message>
            <source>合并到同一表</source>
            <translation>Merge into one table</translation>
        </message>
        <message>
            <source>按表名合并</source>
            <translation>Merge tables of the same name</translation>
        </message>
        <message>
            <source>自动添加新字段</source>
            <translation>Add new fields</translation>
        </message>
        <message>
            <source>Access 2007 格式</source>
            <translation>Access 2007 format</translation>
        </message>
        <message>
            <source>保留字段类型</source>
            <translation>Keep field types</translation>
        </message>
        <message>
            <source>新表名</source>
            <translation>Table</translation>
        </message>
        <message>
            <source>平均分割数据库 </source>
            <translation>Split evenly </translation>
        </message>
        <message>
            <source>分割成               文件</source>
            <translation>Into                   files</translation>
        </message>
        <message>
            <source>按数据行数分割  </source>
            <translation>By records  </translation>
        </message>
        <message>
            <source>每个表成一个数据库</source>
            <translation>One database per table</translation>
        </message>
        <message>
            <source>仅操作单个数据表</source>
            <translation>Only one table</translation>
        </message>
        <message>
            <source>平均分割       共分</source>
            <translation>Evenly into</translation>
        </message>
        <message>
            <source>个文件</source>
            <translation>files</translation>
        </message>
        <message>
            <source>按行数分     每文件</source>
            <translation>By lines, each</translation>
        </message>
        <message>
            <source>行</source>
            <translation>lines</translation>
        </message>
        <message>
            <source>按大小分     每文件</source>
            <translation>By size, each</translation>
        </message>
        <message>
            <source>按页数分     每文件</source>
            <translation>By pages, each</translation>
        </message>
        <message>
            <source>页</source>
            <translation>pages</translation>
        </message>
        <message>
            <source>按字数分     每文件</source>
            <translation>By words, each</translation>
        </message>
        <message>
            <source>字</source>
            <translation>words</translation>
        </message>
        <message>
            <source>Word文档  </source>
            <translation>Word documents  </translation>
        </message>
        <message>
            <source>Excel文档  </source>
            <translation>Excel workbooks  </translation>
        </message>
        <message>
            <source>Access文档  </source>
            <translation>Access databases  </translation>
        </message>
        <message>
            <source>纯文本文件  </source>
            <translation>text files  </translation>
        </message>
        <message>
            <source>合并 </source>
            <translation>Merge </translation>
        </message>
        <message>
            <source>分割 </source>
            <translation>Split </translation>
        </message>
        <message>
            <source>新文档将保存在：</source>
            <translation>New documents are saved in: </translation>
        </message>
    </context>
    <context>
        <name>TitleBar</name>
        <message>
            <source>Plinthwick  批量合并与分割</source>
            <translation>Plinthwick  Batch merge and split</translation>
        </message>
    </context>
    <context>
        <name>batch</name>
        <message>
            <source>新文档“%1”就是待合并的源文件之一，合并会毁掉它。请填写另一个新文档名或选择其他保存目录。</source>
            <translation>The new document “%1” is one of the sources to merge; the merge would destroy it. Please enter another name or choose another output folder.</translation>
        </message>
        <message>
            <source>“%1”不是有效的数字，只接受阿拉伯数字！</source>
            <translation>“%1” is not a valid number; only the digits 0-9 are accepted!</translation>
        </message>
        <message>
            <source>保存目录“%1”不存在，请重新选择保存目录。</source>
            <translation>The output folder “%1” does not exist; please choose the output folder again.</translation>
        </message>
        <message>
            <source>无法在保存目录“%1”中写入文件：%2。请重新选择保存目录。</source>
            <translation>Cannot write files in the output folder “%1”: %2. Please choose the output folder again.</translation>
        </message>
        <message>
            <source>“%1”不是 %2：无法识别它的内容。没有处理任何文件。</source>
            <translation>“%1” is not %2: its content is not recognised. No file was processed.</translation>
        </message>
        <message>
            <source>“%1”不是 %2：它的内容是 %3。没有处理任何文件。</source>
            <translation>“%1” is not %2: its content is %3. No file was processed.</translation>
        </message>
        <message>
            <source>无法打开“%1”：这不是一个普通文件</source>
            <translation>Cannot open “%1”: it is not a regular file</translation>
        </message>
        <message>
            <source>“%1”在待处理的文件中出现了两次，请只选一次。</source>
            <translation>“%1” is among the files to process twice; please choose it once only.</translation>
        </message>
        <message>
            <source>“%1”在待处理的文件中出现了两次（与“%2”是同一个文件），请只选一次。</source>
            <translation>“%1” is among the files to process twice (it is the same file as “%2”); please choose it once only.</translation>
        </message>
        <message>
            <source>Word文档</source>
            <translation>Word document</translation>
        </message>
        <message>
            <source>Excel文档</source>
            <translation>Excel workbook</translation>
        </message>
        <message>
            <source>Access文档</source>
            <translation>Access database</translation>
        </message>
        <message>
            <source>纯文本文件</source>
            <translation>text file</translation>
        </message>
        <message>
            <source>请您先从左侧选择操作任务，然后我再把合适类型的文件列表出来！</source>
            <translation>Please choose a task on the left first; the files of its kind are then listed!</translation>
        </message>
        <message>
            <source>请先选中需操作的文档，可多选！</source>
            <translation>Please select the documents to work on first; you can select several!</translation>
        </message>
    </context>
    <context>
        <name>cli</name>
        <message>
            <source>有 %1 条记录未能导入，</source>
            <translation>records not imported: %1; </translation>
        </message>
        <message>
            <source>至少有 %1 条记录未能导入（分割出的部分中出错记录之后的记录也被跳过），</source>
            <translation>records not imported: at least %1 (in a split part, the records after a failed one are skipped too); </translation>
        </message>
        <message>
            <source>详见错误日志：%1</source>
            <translation>see the error log: %1</translation>
        </message>
        <message>
            <source>有 %1 个查询未能复制，</source>
            <translation>saved queries not copied: %1; </translation>
        </message>
        <message>
            <source>导入时有记录出错，</source>
            <translation>some records failed to import; </translation>
        </message>
        <message>
            <source>用 plinthwick-cli --help 查看用法。</source>
            <translation>See plinthwick-cli --help for usage.</translation>
        </message>
        <message>
            <source>%1合并功能尚未提供（not available yet）。</source>
            <translation>Merging %1s is not available yet.</translation>
        </message>
        <message>
            <source>%1分割功能尚未提供（not available yet）。</source>
            <translation>Splitting %1s is not available yet.</translation>
        </message>
        <message>
            <source>正在停止……（再按一次 Ctrl-C 立即退出）</source>
            <translation>Stopping… (press Ctrl-C again to quit at once)</translation>
        </message>
        <message>
            <source>%1 需要一个大于 0 的整数（只接受阿拉伯数字），而不是“%2”</source>
            <translation>%1 needs a whole number above 0 (digits 0-9 only), not “%2”</translation>
        </message>
        <message>
            <source>Word文档（.doc .docx）</source>
            <translation>Word documents (.doc .docx)</translation>
        </message>
        <message>
            <source>每个文档之后插入分页符（默认）</source>
            <translation>insert a page break after each document (default)</translation>
        </message>
        <message>
            <source>不插入分页符</source>
            <translation>no page break</translation>
        </message>
        <message>
            <source>每个文档之后插入回车符</source>
            <translation>insert a line break after each document</translation>
        </message>
        <message>
            <source>不插入回车符（默认）</source>
            <translation>no line break (default)</translation>
        </message>
        <message>
            <source>平均分割，共分 N 个文档（默认方式，N 默认 2）</source>
            <translation>split evenly into N documents (the default way; N is 2 by default)</translation>
        </message>
        <message>
            <source>按页数分，每文档 P 页（默认 5）</source>
            <translation>split by pages, P pages per document (default 5)</translation>
        </message>
        <message>
            <source>按字数分，每文档 W 个字（默认 500）</source>
            <translation>split by words, W words per document (default 500)</translation>
        </message>
        <message>
            <source>Excel文档（.xls .xlsx）</source>
            <translation>Excel workbooks (.xls .xlsx)</translation>
        </message>
        <message>
            <source>工作表的合并方式：无条件合并到一个表 / 按相同页签名（默认）/ 按相同页签顺序</source>
            <translation>how sheets are merged: all into one sheet / sheets of the same name (default) / sheets in the same position</translation>
        </message>
        <message>
            <source>--match 应为 any、name 或 position，而不是“%1”</source>
            <translation>--match must be any, name or position, not “%1”</translation>
        </message>
        <message>
            <source>后续工作表的标题和表头：保留 / 自动剔除（默认）/ 剔除到第 ROW 行为止</source>
            <translation>titles and headers of the later sheets: keep / drop automatically (default) / drop down to row ROW</translation>
        </message>
        <message>
            <source>添加来源列：第一列写明每个数据行来自的文件和工作表</source>
            <translation>add a source column: a first column naming the file and sheet of every data row</translation>
        </message>
        <message>
            <source>列的对应方式：按位置（默认）/ 按表头文字（忽略首尾空白和大小写）</source>
            <translation>how columns line up: by position (default) / by header text (ignoring surrounding blanks and letter case)</translation>
        </message>
        <message>
            <source>--match-columns 应为 position 或 header，而不是“%1”</source>
            <translation>--match-columns must be position or header, not “%1”</translation>
        </message>
        <message>
            <source>平均分割，每个工作簿分成 N 个文件（默认方式，N 默认 2）</source>
            <translation>split evenly, each workbook into N files (the default way; N is 2 by default)</translation>
        </message>
        <message>
            <source>按行数分割，每文件 P 个数据行（默认 2）</source>
            <translation>split by rows, P data rows per file (default 2)</translation>
        </message>
        <message>
            <source>每个工作表成一个文件</source>
            <translation>one file per sheet</translation>
        </message>
        <message>
            <source>按列值拆分：该列每个不同的值成一个文件</source>
            <translation>split by column value: one file per distinct value of that column</translation>
        </message>
        <message>
            <source>--by-column 需要表头文字或列字母</source>
            <translation>--by-column needs a header text or column letters</translation>
        </message>
        <message>
            <source>只分割名为 NAME 的工作表</source>
            <translation>split only the sheet named NAME</translation>
        </message>
        <message>
            <source>不在每个文件开头重复标题和表头行</source>
            <translation>do not repeat the title and header rows at the top of each file</translation>
        </message>
        <message>
            <source>Access文档（.mdb）</source>
            <translation>Access databases (.mdb)</translation>
        </message>
        <message>
            <source>所有表合并到同一个名为 NAME 的表（默认按表名合并）</source>
            <translation>merge all tables into one table named NAME (by default tables merge by name)</translation>
        </message>
        <message>
            <source>--into-table 的表名不能为空</source>
            <translation>the table name of --into-table cannot be empty</translation>
        </message>
        <message>
            <source>不自动添加新字段</source>
            <translation>do not add new fields</translation>
        </message>
        <message>
            <source>新数据库的格式：Access 2007（.accdb，默认）或 Access 2000（.mdb）</source>
            <translation>format of the new database: Access 2007 (.accdb, default) or Access 2000 (.mdb)</translation>
        </message>
        <message>
            <source>--format 应为 accdb 或 mdb，而不是“%1”</source>
            <translation>--format must be accdb or mdb, not “%1”</translation>
        </message>
        <message>
            <source>保留字段类型：数字、货币、日期/时间、是/否等字段不再存为文本</source>
            <translation>keep field types: number, currency, date/time, yes/no and other fields are no longer stored as text</translation>
        </message>
        <message>
            <source>平均分割数据库，分成 N 个文件（默认方式，N 默认 2）</source>
            <translation>split each database evenly into N files (the default way; N is 2 by default)</translation>
        </message>
        <message>
            <source>按数据行数分割，每文件每表 N 条记录（默认 10）</source>
            <translation>split by records, N records per table in each file (default 10)</translation>
        </message>
        <message>
            <source>每个表成一个数据库</source>
            <translation>one database per table</translation>
        </message>
        <message>
            <source>只分割名为 NAME 的数据表</source>
            <translation>split only the table named NAME</translation>
        </message>
        <message>
            <source>纯文本文件（.txt）</source>
            <translation>text files (.txt)</translation>
        </message>
        <message>
            <source>平均分割，共分 N 个文件（默认方式，N 默认 2）</source>
            <translation>split evenly into N files (the default way; N is 2 by default)</translation>
        </message>
        <message>
            <source>按行数分，每文件 R 行（默认 25）</source>
            <translation>split by lines, R lines per file (default 25)</translation>
        </message>
        <message>
            <source>按大小分，每文件约 KB×1000 字节（默认 10），按整行切分</source>
            <translation>split by size, about KB×1000 bytes per file (default 10), cut at whole lines</translation>
        </message>
        <message>
            <source>不在第二个及以后的文件开头重复标题行（默认重复：标题行即第一个非空行）</source>
            <translation>do not repeat the title line at the top of the second and later files (repeated by default: the title line is the first non-blank line)</translation>
        </message>
        <message>
            <source>每个文件完全处理好之后，把源文件移到回收站（没有回收站时直接删除）</source>
            <translation>once every file is fully done, move the sources to the trash (delete them where there is no trash)</translation>
        </message>
        <message>
            <source>无法确定当前文件夹</source>
            <translation>cannot tell the current folder</translation>
        </message>
        <message>
            <source>缺少操作：merge 或 split</source>
            <translation>missing operation: merge or split</translation>
        </message>
        <message>
            <source>未知的操作“%1”：应为 merge 或 split</source>
            <translation>unknown operation “%1”: must be merge or split</translation>
        </message>
        <message>
            <source>缺少文件类型：doc、xls、mdb 或 txt</source>
            <translation>missing file kind: doc, xls, mdb or txt</translation>
        </message>
        <message>
            <source>未知的文件类型“%1”：应为 doc、xls、mdb 或 txt</source>
            <translation>unknown file kind “%1”: must be doc, xls, mdb or txt</translation>
        </message>
        <message>
            <source>split %1 不接受 -o：分割出的文件总是写在各自的源文件旁边</source>
            <translation>split %1 takes no -o: the parts are always written beside their sources</translation>
        </message>
        <message>
            <source>-o 只能给出一次</source>
            <translation>-o can be given only once</translation>
        </message>
        <message>
            <source>-o 后面缺少输出文件</source>
            <translation>-o is missing its output file</translation>
        </message>
        <message>
            <source>-o 的输出文件不能为空</source>
            <translation>the output file of -o cannot be empty</translation>
        </message>
        <message>
            <source>未知的选项“%1”（%2 %3）</source>
            <translation>unknown option “%1” (%2 %3)</translation>
        </message>
        <message>
            <source>%1 只用于 %2，不能用于 %3</source>
            <translation>%1 is only for %2, not for %3</translation>
        </message>
        <message>
            <source>%1 只能给出一次</source>
            <translation>%1 can be given only once</translation>
        </message>
        <message>
            <source>、</source>
            <translation>, </translation>
        </message>
        <message>
            <source>%1 不能与同类的其他选项同时使用（%2 选其一）</source>
            <translation>%1 cannot be used with the other options of its group (choose one of %2)</translation>
        </message>
        <message>
            <source>%1 后面缺少 %2</source>
            <translation>%1 is missing its %2</translation>
        </message>
        <message>
            <source>%1 不带参数</source>
            <translation>%1 takes no value</translation>
        </message>
        <message>
            <source>没有给出要处理的文件</source>
            <translation>no files given to process</translation>
        </message>
        <message>
            <source>新文档</source>
            <translation>New document</translation>
        </message>
        <message>
            <source>用法：
  plinthwick-cli merge KIND [-o OUTPUT] [选项] FILE...
  plinthwick-cli split KIND [选项] FILE...

merge 按给出的顺序把所有文件合并成一个新文件；split 把每个文件分割成几个新文件。

KIND：
</source>
            <translation>Usage:
  plinthwick-cli merge KIND [-o OUTPUT] [OPTIONS] FILE...
  plinthwick-cli split KIND [OPTIONS] FILE...

merge joins all files, in the order given, into one new file; split cuts each file into several new files.

KIND:
</translation>
        </message>
        <message>
            <source>（尚未提供）</source>
            <translation> (not available yet)</translation>
        </message>
        <message>
            <source>；仅 split</source>
            <translation>; split only</translation>
        </message>
        <message>
            <source>；仅 merge</source>
            <translation>; merge only</translation>
        </message>
        <message>
            <source>
通用选项：
  -o, --output OUTPUT   合并生成的新文件。默认是第一个文件所在文件夹中的“新文档”；
                        扩展名由操作决定（文本合并为 .txt）；给出已有的文件夹或以 /
                        结尾时，在其中生成“新文档”。输出不能是待合并的源文件之一
</source>
            <translation>
Common options:
  -o, --output OUTPUT   the new file a merge makes. By default “New document” in the folder of
                        the first file; the operation sets the extension (.txt for a text merge);
                        an existing folder, or a name ending in /, gets “New document” inside it.
                        The output cannot be one of the sources
</translation>
        </message>
        <message>
            <source>  --dry-run             试运行：检查输入，列出将写出的每个文件（文本给出行数；其他类型的份数、
                        页数、行数和记录数要由引擎读取后才知道，会注明），不写任何文件
  --json                结束时在标准输出打印一行 JSON 摘要：输出文件、完成的文件数、未能导入
                        的记录、删除的源文件和错误
  -q, --quiet           只显示警告和错误
  -h, --help            显示本说明
</source>
            <translation>  --dry-run             check the input and list every file the run would write (with line counts
                        for text; for other kinds the number of parts, pages, rows and records is
                        known only once the engine has read the files, and is said so); writes nothing
  --json                print a one-line JSON summary on standard output at the end: outputs, files
                        finished, records not imported, sources removed and errors
  -q, --quiet           show only warnings and errors
  -h, --help            show this help
</translation>
        </message>
        <message>
            <source>%1 的选项：</source>
            <translation>Options of %1:</translation>
        </message>
        <message>
            <source>
文本分割：每行以 CR LF 结尾写出，第 k 份写在源文件旁边，名为源文件名去掉扩展名加 k 和
.txt（day.txt → day1.txt、day2.txt…）；同名的已有文件会被替换，但绝不覆盖本次的源文件。

进度和结果写到标准错误：在终端上是一行不断刷新的进度（第 i 个文件，共 n 个，和当前文件名），
否则每条进度一行。按 Ctrl-C 请求停止：正在处理的文件写出的内容会被撤销，已完成的
文件保留；再按一次立即退出。

数据库合并和分割中无法写入的记录记在错误日志 Error.txt 中，每次运行开始时清空。运行写了
日志时，最后一行给出未能导入的记录数和日志的位置。日志在 $XDG_DATA_HOME/plinthwick/
（默认 ~/.local/share/plinthwick/）；从构建目录运行、或程序旁有名为 portable 的文件时，
在程序旁边。

退出码：0 成功；1 某个文件无法处理（消息给出文件和原因），或有记录未能导入（见错误日志）；
2 用法错误；130 被中止。
</source>
            <translation>
Text split: every line is written ending in CR LF; part k is written beside its source, named as the
source without its extension plus k and .txt (day.txt → day1.txt, day2.txt…); an existing file of
that name is replaced, but a source of the same run is never overwritten.

Progress and results go to standard error: on a terminal one progress line redrawn in place (file i
of n, and the current file name), otherwise one line per step. Ctrl-C asks to stop: what was written
from the file being worked on is undone, finished files stay; a second Ctrl-C quits at once.

Records a database merge or split cannot write are logged in the error log Error.txt, cleared when
a run starts. When a run wrote the log, its last line gives the number of records not imported and
where the log is. The log is in $XDG_DATA_HOME/plinthwick/ (by default ~/.local/share/plinthwick/);
beside the program when it runs from its build folder or has a file named portable beside it.

Exit status: 0 success; 1 a file could not be processed (the message names the file and the cause),
or records could not be imported (see the error log); 2 usage error; 130 stopped.
</translation>
        </message>
        <message>
            <source>分割数量必须大于 0</source>
            <translation>the number of parts must be above 0</translation>
        </message>
        <message>
            <source>无法分割“%1”：它是 UTF-16（Unicode）编码的文本</source>
            <translation>cannot split “%1”: it is text encoded as UTF-16 (Unicode)</translation>
        </message>
        <message>
            <source>无法按大小分割“%1”：文件只有 %2 字节，不足每份的 %3 字节。</source>
            <translation>Cannot split “%1” by size: the file has only %2 byte(s), less than the %3 bytes of a part.</translation>
        </message>
        <message>
            <source>整个运行完成后，%1 个源文件将移到回收站。</source>
            <translation>Once the whole run is done, its %1 source file(s) will be moved to the trash.</translation>
        </message>
        <message>
            <source>页数要由文字处理引擎排版后才知道。</source>
            <translation>The number of pages is known only once the word processor has laid the document out.</translation>
        </message>
        <message>
            <source>工作表和行数要由表格引擎读取各工作簿后才知道。</source>
            <translation>The sheets and rows are known only once the workbook engine has read each workbook.</translation>
        </message>
        <message>
            <source>表和记录数要由数据库引擎读取各数据库后才知道。</source>
            <translation>The tables and records are known only once the database engine has read each database.</translation>
        </message>
        <message>
            <source>份数和每份的页数要由文字处理引擎排版后才知道。</source>
            <translation>The number of parts and the pages of each are known only once the word processor has laid the documents out.</translation>
        </message>
        <message>
            <source>份数、每份的行数（以及按工作表分割时 N 处的工作表名）要由表格引擎读取后才知道。</source>
            <translation>The number of parts, the rows of each (and, split by sheet, the sheet name in place of N) are known only once the workbook engine has read the files.</translation>
        </message>
        <message>
            <source>份数、每份的记录数（以及按表分割时 N 处的表名）要由数据库引擎读取后才知道。</source>
            <translation>The number of parts, the records of each (and, split by table, the table name in place of N) are known only once the database engine has read the files.</translation>
        </message>
        <message>
            <source>试运行，不写任何文件。将写出：</source>
            <translation>Dry run, nothing is written. The run would write:</translation>
        </message>
        <message>
            <source>%1 行</source>
            <translation>%1 line(s)</translation>
        </message>
        <message>
            <source>%1 字节</source>
            <translation>%1 byte(s)</translation>
        </message>
        <message>
            <source>已完成 %1/%2（%3%）</source>
            <translation>Done %1/%2 (%3%)</translation>
        </message>
        <message>
            <source>源文件已移到回收站：</source>
            <translation>Source moved to the trash: </translation>
        </message>
        <message>
            <source>没有可用的回收站，源文件已直接删除：</source>
            <translation>No trash available, source deleted: </translation>
        </message>
        <message>
            <source>无法删除源文件：</source>
            <translation>Cannot remove the source: </translation>
        </message>
        <message>
            <source>警告：源文件在运行中被替换为另一个文件，已保留未删除：</source>
            <translation>Warning: the source was replaced by another file during the run and was kept: </translation>
        </message>
    </context>
    <context>
        <name>database</name>
        <message>
            <source>数据库连接没有打开</source>
            <translation>The database connection is not open</translation>
        </message>
        <message>
            <source>查询没有打开</source>
            <translation>The query is not open</translation>
        </message>
        <message>
            <source>没有正在添加的记录</source>
            <translation>No record is being added</translation>
        </message>
        <message>
            <source>表“%1”中没有字段“%2”</source>
            <translation>The table “%1” has no field “%2”</translation>
        </message>
        <message>
            <source>不支持的语句：%1</source>
            <translation>Statement not supported: %1</translation>
        </message>
        <message>
            <source>不支持的数据库版本 %1</source>
            <translation>Database version not supported: %1</translation>
        </message>
        <message>
            <source>无法打开数据库“%1”：%2</source>
            <translation>Cannot open the database “%1”: %2</translation>
        </message>
        <message>
            <source>文件已损坏，无法读取</source>
            <translation>the file is damaged and cannot be read</translation>
        </message>
        <message>
            <source>文件已损坏，无法读取表的目录</source>
            <translation>the file is damaged: its list of tables cannot be read</translation>
        </message>
        <message>
            <source>数据库“%1”中的查询“%2”%3</source>
            <translation>The query “%2” in the database “%1”: %3</translation>
        </message>
        <message>
            <source>数据库“%1”中没有表“%2”</source>
            <translation>The database “%1” has no table “%2”</translation>
        </message>
        <message>
            <source>无法读取数据库“%1”中的表“%2”：文件已损坏</source>
            <translation>Cannot read the table “%2” in the database “%1”: the file is damaged</translation>
        </message>
        <message>
            <source>（无法启动读取程序 %1：%2）</source>
            <translation> (the reader program %1 could not be started: %2)</translation>
        </message>
        <message>
            <source>无法打开“%1”：这不是一个普通文件</source>
            <translation>Cannot open “%1”: it is not an ordinary file</translation>
        </message>
        <message>
            <source>文件已损坏（文件长度不完整）</source>
            <translation>the file is damaged (it is cut short)</translation>
        </message>
        <message>
            <source>数据库已加密，无法读取</source>
            <translation>the database is encrypted and cannot be read</translation>
        </message>
        <message>
            <source>数据库设有密码，无法打开</source>
            <translation>the database has a password and cannot be opened</translation>
        </message>
        <message>
            <source>无法读取数据库“%1”中的查询“%2”：文件已损坏</source>
            <translation>Cannot read the query “%2” in the database “%1”: the file is damaged</translation>
        </message>
        <message>
            <source>无法读取数据库“%1”中的“%2”：文件已损坏</source>
            <translation>Cannot read “%2” in the database “%1”: the file is damaged</translation>
        </message>
        <message>
            <source>含联接或表达式的查询无法求值</source>
            <translation>a query with joins or expressions cannot be evaluated</translation>
        </message>
        <message>
            <source>文本(%1)</source>
            <translation>Text(%1)</translation>
        </message>
        <message>
            <source>备注</source>
            <translation>Memo</translation>
        </message>
        <message>
            <source>OLE 对象</source>
            <translation>OLE object</translation>
        </message>
        <message>
            <source>是/否</source>
            <translation>Yes/No</translation>
        </message>
        <message>
            <source>字节</source>
            <translation>Byte</translation>
        </message>
        <message>
            <source>整型</source>
            <translation>Integer</translation>
        </message>
        <message>
            <source>长整型</source>
            <translation>Long integer</translation>
        </message>
        <message>
            <source>货币</source>
            <translation>Currency</translation>
        </message>
        <message>
            <source>单精度型</source>
            <translation>Single</translation>
        </message>
        <message>
            <source>双精度型</source>
            <translation>Double</translation>
        </message>
        <message>
            <source>日期/时间</source>
            <translation>Date/Time</translation>
        </message>
        <message>
            <source>同步复制 ID</source>
            <translation>Replication ID</translation>
        </message>
        <message>
            <source>小数(%1,%2)</source>
            <translation>Decimal(%1,%2)</translation>
        </message>
        <message>
            <source>不是 Access 数据库文件（文件太短）</source>
            <translation>not an Access database file (the file is too short)</translation>
        </message>
        <message>
            <source>不是 Access 数据库文件</source>
            <translation>not an Access database file</translation>
        </message>
        <message>
            <source>%1为空</source>
            <translation>%1 is empty</translation>
        </message>
        <message>
            <source>%1“%2”超过 64 个字符</source>
            <translation>%1 “%2” is longer than 64 characters</translation>
        </message>
        <message>
            <source>%1“%2”以空格开头</source>
            <translation>%1 “%2” starts with a space</translation>
        </message>
        <message>
            <source>%1“%2”含有不允许的字符（. ! ` [ ] 或控制字符）</source>
            <translation>%1 “%2” holds a character that is not allowed (. ! ` [ ] or a control character)</translation>
        </message>
        <message>
            <source>数据库“%1”已达 2 GB 的上限</source>
            <translation>The database “%1” has reached its limit of 2 GB</translation>
        </message>
        <message>
            <source>无法写入数据库“%1”：%2</source>
            <translation>Cannot write the database “%1”: %2</translation>
        </message>
        <message>
            <source>表的使用映射无效</source>
            <translation>a table’s page map is not valid</translation>
        </message>
        <message>
            <source>表的使用映射指向无效的页</source>
            <translation>a table’s page map points to a page that is not valid</translation>
        </message>
        <message>
            <source>数据页无效</source>
            <translation>a data page is not valid</translation>
        </message>
        <message>
            <source>长值列的使用映射无效</source>
            <translation>the page map of a long value column is not valid</translation>
        </message>
        <message>
            <source>长值列的使用映射指向无效的页</source>
            <translation>the page map of a long value column points to a page that is not valid</translation>
        </message>
        <message>
            <source>长值页无效</source>
            <translation>a long value page is not valid</translation>
        </message>
        <message>
            <source>系统索引无效（不是本程序创建的数据库）</source>
            <translation>a system index is not valid (the database was not made by this program)</translation>
        </message>
        <message>
            <source>系统索引无效</source>
            <translation>a system index is not valid</translation>
        </message>
        <message>
            <source>系统索引无序</source>
            <translation>a system index is out of order</translation>
        </message>
        <message>
            <source>索引的使用映射无效</source>
            <translation>an index’s page map is not valid</translation>
        </message>
        <message>
            <source>文件长度不对</source>
            <translation>the file’s length is wrong</translation>
        </message>
        <message>
            <source>只能写入 Access 2000 或 Access 2007 格式、未加密、无密码的数据库</source>
            <translation>only databases in Access 2000 or Access 2007 format, not encrypted and without a password, can be written</translation>
        </message>
        <message>
            <source>全局使用映射无效</source>
            <translation>the database’s page map is not valid</translation>
        </message>
        <message>
            <source>系统表的结构与预期不同（不是本程序创建的数据库）</source>
            <translation>the system tables are not laid out as expected (the database was not made by this program)</translation>
        </message>
        <message>
            <source>MSysObjects 的行无效</source>
            <translation>a row of MSysObjects is not valid</translation>
        </message>
        <message>
            <source>缺少 MSysDb</source>
            <translation>MSysDb is missing</translation>
        </message>
        <message>
            <source>没有表“%1”</source>
            <translation>there is no table “%1”</translation>
        </message>
        <message>
            <source>长值列缺少使用映射</source>
            <translation>a long value column has no page map</translation>
        </message>
        <message>
            <source>数据行无效</source>
            <translation>a record is not valid</translation>
        </message>
        <message>
            <source>表定义页数异常</source>
            <translation>a table definition has an unexpected number of pages</translation>
        </message>
        <message>
            <source>数据库已达 2 GB 的上限</source>
            <translation>the database has reached its limit of 2 GB</translation>
        </message>
        <message>
            <source>使用映射页无效</source>
            <translation>a page map page is not valid</translation>
        </message>
        <message>
            <source>数据库已达本程序可写的上限</source>
            <translation>the database has reached the largest size this program can write</translation>
        </message>
        <message>
            <source>表名</source>
            <translation>Table name</translation>
        </message>
        <message>
            <source>列名</source>
            <translation>Column name</translation>
        </message>
        <message>
            <source>表“%1”已存在</source>
            <translation>The table “%1” already exists</translation>
        </message>
        <message>
            <source>数据库“%1”中的表太多，无法再建表“%2”</source>
            <translation>The database “%1” holds too many tables to make the table “%2”</translation>
        </message>
        <message>
            <source>表“%1”中已有列“%2”</source>
            <translation>The table “%1” already has a column “%2”</translation>
        </message>
        <message>
            <source>表“%1”已有 255 列，无法再加列“%2”</source>
            <translation>The table “%1” already has 255 columns; the column “%2” cannot be added</translation>
        </message>
        <message>
            <source>记录的字段数多于表“%1”的列数</source>
            <translation>The record has more fields than the table “%1” has columns</translation>
        </message>
        <message>
            <source>字段“%1”的值“%2”不能存为%3类型</source>
            <translation>The value “%2” of the field “%1” cannot be stored as %3</translation>
        </message>
        <message>
            <source>字段“%1”的值长 %2 字节，超过每个值 %3 字节的上限</source>
            <translation>The value of the field “%1” is %2 bytes long, over the limit of %3 bytes a value</translation>
        </message>
        <message>
            <source>记录长 %1 字节，超过每条记录 4060 字节的上限</source>
            <translation>The record is %1 bytes long, over the limit of 4060 bytes a record</translation>
        </message>
        <message>
            <source>表定义页号超出文件</source>
            <translation>a table definition page lies beyond the end of the file</translation>
        </message>
        <message>
            <source>表定义页链无效</source>
            <translation>the chain of table definition pages is not valid</translation>
        </message>
        <message>
            <source>表定义页类型错误</source>
            <translation>a table definition page has the wrong type</translation>
        </message>
        <message>
            <source>表定义长度无效</source>
            <translation>a table definition has a length that is not valid</translation>
        </message>
        <message>
            <source>表定义页数与长度不符</source>
            <translation>a table definition’s page count does not match its length</translation>
        </message>
        <message>
            <source>索引数量无效</source>
            <translation>the number of indexes is not valid</translation>
        </message>
        <message>
            <source>表定义被截断</source>
            <translation>a table definition is cut short</translation>
        </message>
        <message>
            <source>列名被截断</source>
            <translation>a column name is cut short</translation>
        </message>
        <message>
            <source>索引名被截断</source>
            <translation>an index name is cut short</translation>
        </message>
        <message>
            <source>长值映射被截断</source>
            <translation>a long value map is cut short</translation>
        </message>
        <message>
            <source>表定义结尾不是 FF FF 或长度不符</source>
            <translation>a table definition does not end with FF FF, or its length does not match</translation>
        </message>
        <message>
            <source>行太短</source>
            <translation>a row is too short</translation>
        </message>
        <message>
            <source>行的列数超过表定义</source>
            <translation>a row has more columns than its table definition</translation>
        </message>
        <message>
            <source>变长列偏移表越界</source>
            <translation>a row’s table of variable column offsets runs out of bounds</translation>
        </message>
        <message>
            <source>变长数据结尾越界</source>
            <translation>the end of a row’s variable data is out of bounds</translation>
        </message>
        <message>
            <source>变长列偏移无序或越界</source>
            <translation>a row’s variable column offsets are out of order or out of bounds</translation>
        </message>
        <message>
            <source>列号超出表定义</source>
            <translation>a column number lies beyond its table definition</translation>
        </message>
        <message>
            <source>定长列越界</source>
            <translation>a fixed-length column runs out of bounds</translation>
        </message>
        <message>
            <source>不是数据页</source>
            <translation>not a data page</translation>
        </message>
        <message>
            <source>行数超出页面</source>
            <translation>the row count does not fit in the page</translation>
        </message>
        <message>
            <source>行偏移无序或越界</source>
            <translation>row offsets are out of order or out of bounds</translation>
        </message>
        <message>
            <source>使用映射太短</source>
            <translation>a page map is too short</translation>
        </message>
        <message>
            <source>使用映射类型未知</source>
            <translation>a page map has an unknown type</translation>
        </message>
        <message>
            <source>使用映射页超出文件</source>
            <translation>a page map page lies beyond the end of the file</translation>
        </message>
        <message>
            <source>使用映射页类型错误</source>
            <translation>a page map page has the wrong type</translation>
        </message>
        <message>
            <source>不是索引页</source>
            <translation>not an index page</translation>
        </message>
        <message>
            <source>索引前缀长度无效</source>
            <translation>an index prefix length is not valid</translation>
        </message>
        <message>
            <source>索引页空闲字节与条目不符</source>
            <translation>an index page’s free bytes do not match its entries</translation>
        </message>
        <message>
            <source>“%1”%2</source>
            <translation>“%1” is %2</translation>
        </message>
    </context>
    <context>
        <name>errors</name>
        <message>
            <source>文件或文件夹不存在</source>
            <translation>no such file or folder</translation>
        </message>
        <message>
            <source>路径中的某一级不是文件夹</source>
            <translation>a part of the path is not a folder</translation>
        </message>
        <message>
            <source>没有写入权限</source>
            <translation>no permission to write</translation>
        </message>
        <message>
            <source>没有访问权限</source>
            <translation>no permission to access it</translation>
        </message>
        <message>
            <source>磁盘空间不足</source>
            <translation>the disk is full</translation>
        </message>
        <message>
            <source>超出磁盘配额</source>
            <translation>the disk quota is exceeded</translation>
        </message>
        <message>
            <source>文件太大</source>
            <translation>the file is too large</translation>
        </message>
        <message>
            <source>磁盘是只读的</source>
            <translation>the disk is read-only</translation>
        </message>
        <message>
            <source>这是一个文件夹</source>
            <translation>it is a folder</translation>
        </message>
        <message>
            <source>同名的文件已存在</source>
            <translation>a file of that name already exists</translation>
        </message>
        <message>
            <source>文件夹不是空的</source>
            <translation>the folder is not empty</translation>
        </message>
        <message>
            <source>不能跨磁盘移动</source>
            <translation>cannot move across disks</translation>
        </message>
        <message>
            <source>读写错误</source>
            <translation>input/output error</translation>
        </message>
        <message>
            <source>文件名太长</source>
            <translation>the file name is too long</translation>
        </message>
        <message>
            <source>符号链接层数太多</source>
            <translation>too many levels of symbolic links</translation>
        </message>
        <message>
            <source>打开的文件太多</source>
            <translation>too many open files</translation>
        </message>
        <message>
            <source>内存不足</source>
            <translation>out of memory</translation>
        </message>
        <message>
            <source>文件正被占用</source>
            <translation>the file is in use</translation>
        </message>
        <message>
            <source>设备不存在或已移除</source>
            <translation>the device is missing or was removed</translation>
        </message>
        <message>
            <source>网络磁盘连接中断</source>
            <translation>the network disk was disconnected</translation>
        </message>
        <message>
            <source>系统错误（%1）</source>
            <translation>system error (%1)</translation>
        </message>
        <message>
            <source>打开</source>
            <translation>open</translation>
        </message>
        <message>
            <source>读取</source>
            <translation>read</translation>
        </message>
        <message>
            <source>写入</source>
            <translation>write</translation>
        </message>
        <message>
            <source>创建</source>
            <translation>create</translation>
        </message>
        <message>
            <source>保存</source>
            <translation>save</translation>
        </message>
        <message>
            <source>替换</source>
            <translation>replace</translation>
        </message>
        <message>
            <source>删除</source>
            <translation>delete</translation>
        </message>
        <message>
            <source>移动</source>
            <translation>move</translation>
        </message>
        <message>
            <source>重命名</source>
            <translation>rename</translation>
        </message>
        <message>
            <source>复制</source>
            <translation>copy</translation>
        </message>
        <message>
            <source>打开数据库</source>
            <translation>open the database</translation>
        </message>
        <message>
            <source>读取数据库</source>
            <translation>read the database</translation>
        </message>
        <message>
            <source>写入数据库</source>
            <translation>write the database</translation>
        </message>
        <message>
            <source>创建数据库</source>
            <translation>create the database</translation>
        </message>
        <message>
            <source>读取工作簿</source>
            <translation>read the workbook</translation>
        </message>
        <message>
            <source>写入设置文件</source>
            <translation>write the settings file</translation>
        </message>
        <message>
            <source>写入错误日志</source>
            <translation>write the error log</translation>
        </message>
        <message>
            <source>无法%1“%2”：%3</source>
            <translation>Cannot %1 “%2”: %3</translation>
        </message>
    </context>
    <context>
        <name>filekind</name>
        <message>
            <source>Word 文档</source>
            <translation>a Word document</translation>
        </message>
        <message>
            <source>Excel 工作簿</source>
            <translation>an Excel workbook</translation>
        </message>
        <message>
            <source>Access 数据库</source>
            <translation>an Access database</translation>
        </message>
        <message>
            <source>其他类型的 Office 文件</source>
            <translation>an Office file of another kind</translation>
        </message>
        <message>
            <source>设有打开密码的加密文件</source>
            <translation>a file encrypted with an opening password</translation>
        </message>
        <message>
            <source>无法识别的内容</source>
            <translation>unrecognised content</translation>
        </message>
    </context>
    <context>
        <name>filelist</name>
        <message>
            <source>未知</source>
            <translation>unknown</translation>
        </message>
        <message>
            <source>大小：</source>
            <translation>Size: </translation>
        </message>
        <message>
            <source>修改：%1     创建：%2</source>
            <translation>Modified: %1     Created: %2</translation>
        </message>
    </context>
    <context>
        <name>office</name>
        <message>
            <source>%1“%2”</source>
            <translation>%1 “%2”</translation>
        </message>
        <message>
            <source>分割</source>
            <translation>split</translation>
        </message>
        <message>
            <source>启动 LibreOffice</source>
            <translation>start LibreOffice</translation>
        </message>
        <message>
            <source>无法初始化 UNO 组件：%1</source>
            <translation>the UNO components cannot be set up: %1</translation>
        </message>
        <message>
            <source>文件有密码保护</source>
            <translation>the file is protected by a password</translation>
        </message>
        <message>
            <source>文件已损坏</source>
            <translation>the file is damaged</translation>
        </message>
        <message>
            <source>无法读取文件</source>
            <translation>the file cannot be read</translation>
        </message>
        <message>
            <source>无法%1：%2</source>
            <translation>Cannot %1: %2</translation>
        </message>
        <message>
            <source>LibreOffice 之前没有响应，已被强制结束</source>
            <translation>LibreOffice had stopped answering and was stopped</translation>
        </message>
        <message>
            <source>LibreOffice 意外退出</source>
            <translation>LibreOffice quit unexpectedly</translation>
        </message>
        <message>
            <source>LibreOffice 没有在运行</source>
            <translation>LibreOffice is not running</translation>
        </message>
        <message>
            <source>LibreOffice 超过 %1 秒没有响应，已被强制结束</source>
            <translation>LibreOffice did not answer for over %1 seconds and was stopped</translation>
        </message>
        <message>
            <source>LibreOffice 报告错误</source>
            <translation>LibreOffice reports an error</translation>
        </message>
        <message>
            <source>LibreOffice 报告：%1</source>
            <translation>LibreOffice reports: %1</translation>
        </message>
        <message>
            <source>找不到或无法运行 %1：%2</source>
            <translation>%1 cannot be found or run: %2</translation>
        </message>
        <message>
            <source>无法建立临时配置文件夹：%1</source>
            <translation>the temporary settings folder cannot be made: %1</translation>
        </message>
        <message>
            <source>LibreOffice 启动后立即退出（退出状态 %1）</source>
            <translation>LibreOffice quit right after starting (exit status %1)</translation>
        </message>
        <message>
            <source>LibreOffice 在规定时间内没有启动</source>
            <translation>LibreOffice did not start in time</translation>
        </message>
        <message>
            <source>文件已损坏，或不是 Word 文档</source>
            <translation>the file is damaged, or not a Word document</translation>
        </message>
        <message>
            <source>不是 Word 文档（文件内容是电子表格）</source>
            <translation>not a Word document (the file holds a spreadsheet)</translation>
        </message>
        <message>
            <source>不是 Word 文档（无法识别的文件内容）</source>
            <translation>not a Word document (its content is not recognised)</translation>
        </message>
        <message>
            <source>打开</source>
            <translation>open</translation>
        </message>
        <message>
            <source>文件是空的</source>
            <translation>the file is empty</translation>
        </message>
        <message>
            <source>文件已损坏，或不是受支持的格式</source>
            <translation>the file is damaged, or not in a supported format</translation>
        </message>
        <message>
            <source>新建文档</source>
            <translation>create a document</translation>
        </message>
        <message>
            <source>LibreOffice 没有建立文档</source>
            <translation>LibreOffice made no document</translation>
        </message>
        <message>
            <source>关闭文档</source>
            <translation>close the document</translation>
        </message>
        <message>
            <source>转换</source>
            <translation>convert</translation>
        </message>
        <message>
            <source>这不是电子表格文件</source>
            <translation>this is not a spreadsheet file</translation>
        </message>
        <message>
            <source>保存为 .xls 文件</source>
            <translation>save as an .xls file</translation>
        </message>
        <message>
            <source>工作表“%1”有 %2 行，超过 .xls 格式最多 65536 行的限制</source>
            <translation>the sheet “%1” has %2 rows, more than the 65,536 an .xls file can hold</translation>
        </message>
        <message>
            <source>工作表“%1”有 %2 列，超过 .xls 格式最多 256 列的限制</source>
            <translation>the sheet “%1” has %2 columns, more than the 256 an .xls file can hold</translation>
        </message>
        <message>
            <source>保存</source>
            <translation>save</translation>
        </message>
        <message>
            <source>读取</source>
            <translation>read</translation>
        </message>
        <message>
            <source>LibreOffice 没有回答</source>
            <translation>LibreOffice gave no answer</translation>
        </message>
        <message>
            <source>选择</source>
            <translation>select in</translation>
        </message>
        <message>
            <source>写出的文件不完整</source>
            <translation>the written file is incomplete</translation>
        </message>
        <message>
            <source>统计页数</source>
            <translation>count the pages of</translation>
        </message>
        <message>
            <source>这不是文字处理文档</source>
            <translation>this is not a word-processor document</translation>
        </message>
        <message>
            <source>复制</source>
            <translation>copy from</translation>
        </message>
        <message>
            <source>复制内容</source>
            <translation>copy the content of</translation>
        </message>
        <message>
            <source>复制样式</source>
            <translation>copy the styles of</translation>
        </message>
        <message>
            <source>移动</source>
            <translation>move in</translation>
        </message>
        <message>
            <source>定位页</source>
            <translation>find a page in</translation>
        </message>
        <message>
            <source>整理</source>
            <translation>tidy</translation>
        </message>
        <message>
            <source>插入分页符</source>
            <translation>insert a page break in</translation>
        </message>
        <message>
            <source>插入回车符</source>
            <translation>insert a paragraph in</translation>
        </message>
        <message>
            <source>定位</source>
            <translation>find the position in</translation>
        </message>
        <message>
            <source>操作文档</source>
            <translation>work on the document</translation>
        </message>
        <message>
            <source>没有打开的文档</source>
            <translation>no document is open</translation>
        </message>
        <message>
            <source>无法%1“%2”：%3</source>
            <translation>Cannot %1 “%2”: %3</translation>
        </message>
    </context>
    <context>
        <name>ops</name>
        <message>
            <source>未复制查询“%1”：%2</source>
            <translation>Saved query “%1” not copied: %2</translation>
        </message>
        <message>
            <source>正在读取字段类型：</source>
            <translation>Reading field types: </translation>
        </message>
        <message>
            <source>请指定新表名称！</source>
            <translation>Please give the new table a name!</translation>
        </message>
        <message>
            <source>正在合并：</source>
            <translation>Merging: </translation>
        </message>
        <message>
            <source>用户强行退出，转换操作未完成！合并后的数据库“%1”没有生成。</source>
            <translation>Stopped by the user; the run was not finished! The merged database “%1” was not made.</translation>
        </message>
        <message>
            <source>正在分割：%1（生成 %2）</source>
            <translation>Splitting: %1 (making %2)</translation>
        </message>
        <message>
            <source>文件数不能为空且必须为阿拉伯数字，请检查！</source>
            <translation>The number of files cannot be empty and must be in digits 0-9; please check!</translation>
        </message>
        <message>
            <source>文件数必须大于 0，请检查！</source>
            <translation>The number of files must be above 0; please check!</translation>
        </message>
        <message>
            <source>数据行数不能为空且必须为阿拉伯数字，请检查！</source>
            <translation>The number of records cannot be empty and must be in digits 0-9; please check!</translation>
        </message>
        <message>
            <source>数据行数必须大于 0，请检查！</source>
            <translation>The number of records must be above 0; please check!</translation>
        </message>
        <message>
            <source>请选择需要操作的数据表！</source>
            <translation>Please choose the table to work on!</translation>
        </message>
        <message>
            <source>正在分割：</source>
            <translation>Splitting: </translation>
        </message>
        <message>
            <source>用户强行退出，转换操作未完成！</source>
            <translation>Stopped by the user; the run was not finished!</translation>
        </message>
        <message>
            <source>已撤销“%1”已生成的 %2 个数据库。</source>
            <translation> The %2 database(s) already made from “%1” were undone.</translation>
        </message>
        <message>
            <source>“%1”中有 %2 处修订（格式、表格或页眉页脚中的修订）无法保留为修订，已按接受修订写入</source>
            <translation>“%1” has %2 tracked change(s) (in formatting, tables, or headers and footers) that cannot be kept as changes; they were written as accepted</translation>
        </message>
        <message>
            <source>用户强行退出，合并操作未完成！没有写入任何文件。</source>
            <translation>Stopped by the user; the merge was not finished! No file was written.</translation>
        </message>
        <message>
            <source>正在合并文件： </source>
            <translation>Merging: </translation>
        </message>
        <message>
            <source>合并操作已完成，正在清理内存... </source>
            <translation>Done, freeing memory... </translation>
        </message>
        <message>
            <source>%1，正在重新启动 LibreOffice 并重新合并</source>
            <translation>%1; restarting LibreOffice and merging again</translation>
        </message>
        <message>
            <source>%1 个文件合并生成新文件：%2</source>
            <translation>%1 file(s) merged into the new file: %2</translation>
        </message>
        <message>
            <source>用户强行退出，操作未完成！</source>
            <translation>Stopped by the user; the run was not finished!</translation>
        </message>
        <message>
            <source>请填写分割数量，只接受阿拉伯数字！</source>
            <translation>Please enter the number of parts, in digits 0-9!</translation>
        </message>
        <message>
            <source>请填写新文档页数，只接受阿拉伯数字！</source>
            <translation>Please enter the pages per new document, in digits 0-9!</translation>
        </message>
        <message>
            <source>请填写新文档总字数，只接受阿拉伯数字！</source>
            <translation>Please enter the words per new document, in digits 0-9!</translation>
        </message>
        <message>
            <source>“%1”不是有效的数量，请填写大于 0 的数字！</source>
            <translation>“%1” is not a valid amount; please enter a number above 0!</translation>
        </message>
        <message>
            <source>“%1”中有 %2 个表格行跨页，无法在页边界处拆开，已整行放入后一部分</source>
            <translation>“%1” has %2 table row(s) across a page end that cannot be cut there; each was put whole into the next part</translation>
        </message>
        <message>
            <source>“%1”中有 %2 处分页落在无法拆开的表格内，这些页已并入前一部分，生成的文件少于按页数计算的份数</source>
            <translation>“%1” has %2 page start(s) inside a table that cannot be cut; those pages were joined to the part before, so fewer files were written than the page count gives</translation>
        </message>
        <message>
            <source>“%1”与之前的文件同名，新文件名加上“(%2)”</source>
            <translation>“%1” has the same name as an earlier file; the new files’ names get “(%2)”</translation>
        </message>
        <message>
            <source>分割生成的文件“%1”就是待分割的源文件之一，写入会毁掉它。请选择其他保存目录。</source>
            <translation>The part “%1” is one of the sources to split; writing it would destroy that source. Please choose another output folder.</translation>
        </message>
        <message>
            <source> 新文件已生成：</source>
            <translation> New file made: </translation>
        </message>
        <message>
            <source>正在分割文件： </source>
            <translation>Splitting: </translation>
        </message>
        <message>
            <source>已撤销“%1”已生成的 %2 个新文件。</source>
            <translation> The %2 new file(s) already made from “%1” were undone.</translation>
        </message>
        <message>
            <source>正在重新启动 LibreOffice...</source>
            <translation>Restarting LibreOffice...</translation>
        </message>
        <message>
            <source>操作已完成，正在清理内存... </source>
            <translation>Done, freeing memory... </translation>
        </message>
        <message>
            <source>%1 个文件未能分割，其余文件已分割：</source>
            <translation>%1 file(s) could not be split; the others were split:</translation>
        </message>
        <message>
            <source>%1 个文件已被分割，并生成了新文件！</source>
            <translation>%1 file(s) split into new files!</translation>
        </message>
        <message>
            <source>没有生成合并后的工作簿。</source>
            <translation> No merged workbook was made.</translation>
        </message>
        <message>
            <source>正在合并</source>
            <translation>Merging </translation>
        </message>
        <message>
            <source>合并结果超出了工作表的最大行数（1048576 行），“%1”无法并入工作表“%2”。</source>
            <translation>The merge would exceed the most rows a sheet holds (1048576); “%1” cannot join the sheet “%2”.</translation>
        </message>
        <message>
            <source>正在保存</source>
            <translation>Saving </translation>
        </message>
        <message>
            <source>行号不能为空且必须为阿拉伯数字，请检查！</source>
            <translation>The row number cannot be empty and must be in digits 0-9; please check!</translation>
        </message>
        <message>
            <source>表头行号必须是 1 到 1048576 之间的整数，请检查！</source>
            <translation>The header row must be a whole number from 1 to 1048576; please check!</translation>
        </message>
        <message>
            <source>合并完毕！共合并 %1 个文件。</source>
            <translation>Merge done! %1 file(s) merged.</translation>
        </message>
        <message>
            <source>结果超出 .xls 格式上限，已保存为“%1”。</source>
            <translation> The result exceeds what .xls holds and was saved as “%1”.</translation>
        </message>
        <message>
            <source>分割结果“%1”正是待分割的源文件之一，分割会毁掉它。请先移走或改名。</source>
            <translation>The part “%1” is one of the sources to split; the split would destroy it. Please move or rename it first.</translation>
        </message>
        <message>
            <source>工作簿“%1”中没有列“%2”，无法按列值拆分。</source>
            <translation>The workbook “%1” has no column “%2”; it cannot be split by column value.</translation>
        </message>
        <message>
            <source>“%1”的列“%2”有 %3 个不同的值，超过 %4 个，没有拆分。</source>
            <translation>Column “%2” of “%1” has %3 distinct values, more than %4; not split.</translation>
        </message>
        <message>
            <source>每文件行数必须大于 0，请检查！</source>
            <translation>The rows per file must be above 0; please check!</translation>
        </message>
        <message>
            <source>请填写按哪一列拆分（表头文字或列字母）！</source>
            <translation>Please enter the column to split by (its header text or letters)!</translation>
        </message>
        <message>
            <source>请选择需要操作的非空Sheet！</source>
            <translation>Please choose a sheet with data to work on!</translation>
        </message>
        <message>
            <source>没有工作表“%1”，已跳过</source>
            <translation>has no sheet “%1” and was skipped</translation>
        </message>
        <message>
            <source>正在分割</source>
            <translation>Splitting </translation>
        </message>
        <message>
            <source>“%1”%2。</source>
            <translation>“%1” %2.</translation>
        </message>
        <message>
            <source>已撤销“%1”已生成的 %2 个工作簿。</source>
            <translation> The %2 workbook(s) already made from “%1” were undone.</translation>
        </message>
        <message>
            <source>分割操作完毕！共分割了 %1 个文件。</source>
            <translation>Split done! %1 file(s) split.</translation>
        </message>
        <message>
            <source>、</source>
            <translation>, </translation>
        </message>
        <message>
            <source>%1的有：%2。</source>
            <translation> Files that %1: %2.</translation>
        </message>
        <message>
            <source>超出 .xls 格式上限、改存为 .xlsx 的有：</source>
            <translation> Saved as .xlsx because they exceed what .xls holds: </translation>
        </message>
        <message>
            <source>用户强行退出，合并操作未完成！</source>
            <translation>Stopped by the user; the run was not finished!</translation>
        </message>
        <message>
            <source>已撤销正在处理的“%1”。</source>
            <translation> What was written from “%1” was undone.</translation>
        </message>
        <message>
            <source>正在合并第 %1 个文件： %2</source>
            <translation>Merging file %1: %2</translation>
        </message>
        <message>
            <source>无法分割“%1”：分割出的文件“%2”是本次待处理的源文件之一，写入会覆盖它。请先将该文件改名或移到别处。</source>
            <translation>Cannot split “%1”: its part “%2” is one of the sources of this run and would be overwritten. Please rename or move that file first.</translation>
        </message>
        <message>
            <source>无法分割“%1”：分割数量必须大于 0，现在是 %2。</source>
            <translation>Cannot split “%1”: the number must be above 0, it is %2.</translation>
        </message>
        <message>
            <source>无法按大小分割“%1”：文件只有 %2 字节，不足每份的 %3 字节。</source>
            <translation>Cannot split “%1” by size: the file has only %2 byte(s), less than the %3 bytes of a part.</translation>
        </message>
        <message>
            <source>无法分割“%1”：它是 UTF-16（Unicode）编码的文本，按行分割会损坏内容。请先将它另存为 UTF-8 或 ANSI 编码。</source>
            <translation>Cannot split “%1”: it is text encoded as UTF-16 (Unicode), which cutting at lines would damage. Please save it as UTF-8 or ANSI first.</translation>
        </message>
        <message>
            <source>无法分割“%1”：它看来是不带字节顺序标记的 UTF-16（Unicode）编码文本，按行分割会损坏内容。请先将它另存为 UTF-8 或 ANSI 编码。</source>
            <translation>Cannot split “%1”: it looks like UTF-16 (Unicode) text without a byte order mark, which cutting at lines would damage. Please save it as UTF-8 or ANSI first.</translation>
        </message>
        <message>
            <source>无法分割“%1”：它和“%2”分割出的文件同名（%3…），会互相覆盖。请先将其中一个改名。</source>
            <translation>Cannot split “%1”: its parts have the same names as those of “%2” (%3…) and would overwrite each other. Please rename one of them first.</translation>
        </message>
    </context>
    <context>
        <name>workbook</name>
        <message>
            <source>无法读取工作簿“%1”：%2</source>
            <translation>Cannot read the workbook “%1”: %2</translation>
        </message>
        <message>
            <source>文件已损坏，或不是 .xlsx 格式（%1）。</source>
            <translation>the file is damaged, or not in .xlsx format (%1).</translation>
        </message>
        <message>
            <source>文件已加密，请先在电子表格程序中去掉密码。</source>
            <translation>the file is encrypted; please remove its password in a spreadsheet program first.</translation>
        </message>
        <message>
            <source>“%1”不是 Excel 工作簿文件。</source>
            <translation>“%1” is not an Excel workbook file.</translation>
        </message>
        <message>
            <source>“%1”不是 Excel 工作簿文件：它的内容是 Word 文档。</source>
            <translation>“%1” is not an Excel workbook file: its content is a Word document.</translation>
        </message>
        <message>
            <source>“%1”不是 Excel 工作簿文件：它的内容是演示文稿。</source>
            <translation>“%1” is not an Excel workbook file: its content is a presentation.</translation>
        </message>
        <message>
            <source>这是二进制工作簿（.xlsb），无法读取。请在电子表格程序中另存为 .xlsx 后再试。</source>
            <translation>it is a binary workbook (.xlsb), which cannot be read. Please save it as .xlsx in a spreadsheet program and try again.</translation>
        </message>
        <message>
            <source>文件已加密（设有打开密码），或实为 .xls 格式。请在电子表格程序中去掉密码或另存为 .xlsx 后再试。</source>
            <translation>the file is encrypted (it has an opening password), or is really in .xls format. Please remove the password or save it as .xlsx in a spreadsheet program and try again.</translation>
        </message>
        <message>
            <source>文件是空的。</source>
            <translation>the file is empty.</translation>
        </message>
        <message>
            <source>粘贴区域超出了工作表的范围（%1）。</source>
            <translation>The paste area runs past the edge of the worksheet (%1).</translation>
        </message>
        <message>
            <source>工作表名“%1”为空或超过 31 个字符。</source>
            <translation>The worksheet name “%1” is empty or longer than 31 characters.</translation>
        </message>
        <message>
            <source>工作表名“%1”含有不允许的字符。</source>
            <translation>The worksheet name “%1” holds a character that is not allowed.</translation>
        </message>
        <message>
            <source>工作表名“%1”已被占用。</source>
            <translation>The worksheet name “%1” is already taken.</translation>
        </message>
        <message>
            <source>工作簿至少要保留一个工作表。</source>
            <translation>A workbook must keep at least one worksheet.</translation>
        </message>
        <message>
            <source>无效的单元格地址“%1”。</source>
            <translation>“%1” is not a valid cell address.</translation>
        </message>
        <message>
            <source>单元格（%1，%2）超出了工作表的范围。</source>
            <translation>The cell (%1, %2) is outside the worksheet.</translation>
        </message>
        <message>
            <source>工作簿中没有第 %1 个工作表。</source>
            <translation>The workbook has no worksheet number %1.</translation>
        </message>
        <message>
            <source>工作簿“%1”中没有工作表。</source>
            <translation>The workbook “%1” has no worksheets.</translation>
        </message>
        <message>
            <source>工作表“%1”有 %2 行、%3 列，超出了 .xls 格式的上限（65536 行、256 列），“%4”未保存。</source>
            <translation>The worksheet “%1” has %2 rows and %3 columns, more than the .xls format holds (65536 rows, 256 columns); “%4” was not saved.</translation>
        </message>
        <message>
            <source>无法保存 .xls 工作簿“%1”：缺少格式转换服务。</source>
            <translation>Cannot save the .xls workbook “%1”: the format conversion service is missing.</translation>
        </message>
        <message>
            <source>无法保存“%1”：无法建立临时文件夹。</source>
            <translation>Cannot save “%1”: a temporary folder cannot be made.</translation>
        </message>
        <message>
            <source>无法打开 .xls 工作簿“%1”：缺少格式转换服务。</source>
            <translation>Cannot open the .xls workbook “%1”: the format conversion service is missing.</translation>
        </message>
        <message>
            <source>无法打开“%1”：无法建立临时文件夹。</source>
            <translation>Cannot open “%1”: a temporary folder cannot be made.</translation>
        </message>
        <message>
            <source>无法读取工作簿“%1”：转换后的内容无法读取。</source>
            <translation>Cannot read the workbook “%1”: its converted content cannot be read.</translation>
        </message>
        <message>
            <source>没有第 %1 个打开的工作簿。</source>
            <translation>There is no open workbook number %1.</translation>
        </message>
        <message>
            <source>没有打开的工作簿。</source>
            <translation>No workbook is open.</translation>
        </message>
        <message>
            <source>没有选定要复制的区域。</source>
            <translation>No area is selected to copy.</translation>
        </message>
        <message>
            <source>没有可粘贴的内容。</source>
            <translation>There is nothing to paste.</translation>
        </message>
        <message>
            <source>无法保存工作簿“%1”：%2</source>
            <translation>Cannot save the workbook “%1”: %2</translation>
        </message>
        <message>
            <source>工作表名“%1”无效或重复。</source>
            <translation>the worksheet name “%1” is not valid or is used twice.</translation>
        </message>
        <message>
            <source>工作表“%1”单元格 %2：%3</source>
            <translation>worksheet “%1”, cell %2: %3</translation>
        </message>
        <message>
            <source>内存不足。</source>
            <translation>out of memory.</translation>
        </message>
        <message>
            <source>无法重新打开刚写好的文件。</source>
            <translation>the file just written cannot be opened again.</translation>
        </message>
        <message>
            <source>无法建立临时文件。</source>
            <translation>a temporary file cannot be made.</translation>
        </message>
        <message>
            <source>无法改写 %1。</source>
            <translation>%1 cannot be rewritten.</translation>
        </message>
    </context>
</TS>
